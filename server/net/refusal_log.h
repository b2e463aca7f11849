// One log line per refusal (address and reason), itself limited so that a
// flood of refused requests cannot fill the disk with lines.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

#include "server/net/rate_limiter.h"

class RefusalLog
{
public:
    // At most linesPerSecond lines on average, burst at once.
    explicit RefusalLog(FILE* log, double linesPerSecond = 20, double burst = 100);

    // Writes line (one line, without its line feed) unless over the rate;
    // the next line written first says how many were left out. Thread-safe.
    void Write(const std::string& line);
    // The same with the line made only when it is written: a flood's lines,
    // mostly left out, cost no formatting.
    void Write(const std::function<std::string()>& makeLine);

    // "TIME PEER refused \"REASON\"", through Write.
    void WriteRefusal(const std::string& peer, const std::string& reason);

    // Writes line whatever the rate (start, stop, disk floor changes).
    void WriteAlways(const std::string& line);

    uint64_t CountDropped();

private:
    void Emit(const std::string& line);

    FILE* m_log;
    RateLimit m_limit;
    RateBuckets m_buckets;
    uint64_t m_dropped = 0;       // since the last line written
    uint64_t m_droppedTotal = 0;
    std::mutex m_mutex;
};
