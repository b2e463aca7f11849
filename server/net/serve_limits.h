// What serve allows one client and what it keeps for everyone: deadlines,
// connection caps, request rates and the free-space floor. The defaults are
// meant never to refuse an honest reporter.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// count requests per seconds, as a bucket that refills steadily.
struct RateRule
{
    double count = 0;
    double seconds = 0;
};

// Every rule must allow a request; no rules: no limit.
typedef std::vector<RateRule> RateLimit;

const char kDefaultUploadRate[] = "10/min,100/day";
const char kDefaultQueryRate[] = "60/min,1000/day";

struct ServeLimits
{
    int headerSeconds = 10;          // request line and headers, from their first byte
    int bodyGraceSeconds = 10;       // no rate asked of a body before this
    uint64_t bodyMinRate = 8 * 1024; // bytes a second, over the window
    int bodyWindowSeconds = 10;
    int connectionsPerAddress = 16;
    int maxConnections = 256;        // served at once; more wait for a free worker
    int rateRefusalDelaySeconds = 1; // a 429 is answered this late: a flood waits instead of spinning
    RateLimit uploadRate;            // per address; empty: none
    RateLimit queryRate;
    // Uploads are refused while the data folder's file system has less free
    // space than this: minFreeBytes, or minFreePercent of its size when
    // minFreeBytes is 0; both 0: the smaller of 1 GiB and 5 %.
    uint64_t minFreeBytes = 0;
    double minFreePercent = 0;
    bool diskFloorOff = false;
};

// ServeLimits with the rate defaults filled in.
ServeLimits MakeDefaultServeLimits();

// "10/min,100/day": rules of COUNT/UNIT, unit s, min, h or day (or a
// number of seconds, "5/30s"); "off" for none.
bool ParseRateLimit(const std::string& text, RateLimit& limit, std::string& error);

// "2G", "512M", "5%", or "0" for no floor.
bool ParseDiskFloor(const std::string& text, ServeLimits& limits, std::string& error);

// The floor in bytes on a file system of totalBytes.
uint64_t ResolveDiskFloor(const ServeLimits& limits, uint64_t totalBytes);

// The serve options that set limits, for the command line: each takes a
// value. ParseLimitOption sets the one named; on failure error is one line.
extern const char* const kLimitOptionNames[];
bool IsLimitOption(const std::string& name);
bool ParseLimitOption(const std::string& name, const std::string& value, ServeLimits& limits, std::string& error);

// "10/min,100/day" back from rules (for the start line and the docs).
std::string FormatRateLimit(const RateLimit& limit);
