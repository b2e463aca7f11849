#include "server/base/decimal_text.h"
#include "server/net/serve_limits.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

const uint64_t kGiB = 1024ull * 1024 * 1024;

// Digits only; false when empty or over limit.
bool ParseWhole(const std::string& text, uint64_t limit, uint64_t& value)
{
    return ParseDecimalDigits(text, 19, value) && value <= limit;
}

bool ParsePeriod(const std::string& unit, double& seconds)
{
    if (unit == "s" || unit == "sec")
        seconds = 1;
    else if (unit == "min")
        seconds = 60;
    else if (unit == "h" || unit == "hour")
        seconds = 3600;
    else if (unit == "day" || unit == "d")
        seconds = 86400;
    else if (unit.size() > 1 && unit.back() == 's') {
        uint64_t count = 0;
        if (!ParseWhole(unit.substr(0, unit.size() - 1), 7 * 86400, count) || count == 0)
            return false;
        seconds = static_cast<double>(count);
    } else {
        return false;
    }
    return true;
}

bool ParseCount(const std::string& text, uint64_t limit, int& value)
{
    uint64_t parsed = 0;
    if (!ParseWhole(text, limit, parsed))
        return false;
    value = static_cast<int>(parsed);
    return true;
}

// The options that take a whole number, with its range.
struct CountOption
{
    const char* name;
    int ServeLimits::*field;
    int least;
    int most;
    const char* expected;
};

const CountOption kCountOptions[] = {
    {"--header-timeout", &ServeLimits::headerSeconds, 1, 3600, "seconds from 1 to 3600"},
    {"--body-grace", &ServeLimits::bodyGraceSeconds, 0, 3600, "seconds from 0 to 3600"},
    {"--body-rate-window", &ServeLimits::bodyWindowSeconds, 1, 3600, "seconds from 1 to 3600"},
    {"--max-connections-per-address", &ServeLimits::connectionsPerAddress, 0, 100000,
     "a count from 0 (no cap) to 100000"},
    {"--max-connections", &ServeLimits::maxConnections, 1, 100000, "a count from 1 to 100000"},
    {"--rate-refusal-delay", &ServeLimits::rateRefusalDelaySeconds, 0, 60, "seconds from 0 (none) to 60"},
};

}  // namespace

const char* const kLimitOptionNames[] = {
    "--header-timeout", "--body-min-rate", "--body-grace", "--body-rate-window", "--max-connections-per-address",
    "--max-connections", "--rate-limit", "--query-rate-limit", "--rate-refusal-delay", "--min-free", nullptr};

bool IsLimitOption(const std::string& name)
{
    for (const char* const* option = kLimitOptionNames; *option != nullptr; ++option) {
        if (name == *option)
            return true;
    }
    return false;
}

bool ParseLimitOption(const std::string& name, const std::string& value, ServeLimits& limits, std::string& error)
{
    for (const CountOption& option : kCountOptions) {
        if (name != option.name)
            continue;
        int count = 0;
        if (!ParseCount(value, static_cast<uint64_t>(option.most), count) || count < option.least) {
            error = "bad " + name + " '" + value + "': expected " + option.expected;
            return false;
        }
        limits.*option.field = count;
        return true;
    }
    if (name == "--body-min-rate") {
        std::string digits = value;
        int shift = 0;
        if (!digits.empty() && (digits.back() == 'K' || digits.back() == 'M')) {
            shift = digits.back() == 'K' ? 10 : 20;
            digits.pop_back();
        }
        uint64_t rate = 0;
        if (!ParseWhole(digits, 1024, rate) && !(shift == 0 && ParseWhole(digits, 1ull << 30, rate))) {
            error = "bad " + name + " '" + value + "': expected bytes a second (suffix K or M allowed), 0 for none";
            return false;
        }
        limits.bodyMinRate = rate << shift;
        return true;
    }
    if (name == "--rate-limit" || name == "--query-rate-limit") {
        if (ParseRateLimit(value, name == "--rate-limit" ? limits.uploadRate : limits.queryRate, error))
            return true;
        error = "bad " + name + " '" + value + "': " + error;
        return false;
    }
    if (name == "--min-free")
        return ParseDiskFloor(value, limits, error);
    error = "unknown limit option " + name;
    return false;
}

ServeLimits MakeDefaultServeLimits()
{
    ServeLimits limits;
    std::string error;
    ParseRateLimit(kDefaultUploadRate, limits.uploadRate, error);
    ParseRateLimit(kDefaultQueryRate, limits.queryRate, error);
    return limits;
}

bool ParseRateLimit(const std::string& text, RateLimit& limit, std::string& error)
{
    RateLimit rules;
    if (text != "off") {
        size_t start = 0;
        while (start <= text.size()) {
            size_t end = text.find(',', start);
            if (end == std::string::npos)
                end = text.size();
            const std::string rule = text.substr(start, end - start);
            const size_t slash = rule.find('/');
            uint64_t count = 0;
            RateRule parsed;
            if (slash == std::string::npos || !ParseWhole(rule.substr(0, slash), 1000000, count) || count == 0 ||
                !ParsePeriod(rule.substr(slash + 1), parsed.seconds)) {
                error = "expected COUNT/UNIT rules such as 10/min,100/day (units s, min, h, day), or off";
                return false;
            }
            parsed.count = static_cast<double>(count);
            rules.push_back(parsed);
            start = end + 1;
        }
    }
    limit = rules;
    return true;
}

bool ParseDiskFloor(const std::string& text, ServeLimits& limits, std::string& error)
{
    error = "bad --min-free '" + text + "': expected bytes (suffix K, M, G or T allowed), a percentage such as 5%, or 0";
    if (text.empty())
        return false;
    if (text.back() == '%') {
        char* end = nullptr;
        const std::string number = text.substr(0, text.size() - 1);
        const double percent = std::strtod(number.c_str(), &end);
        if (number.empty() || !std::isdigit(static_cast<unsigned char>(number[0])) || *end != '\0' ||
            !(percent > 0 && percent < 100))
            return false;
        limits.minFreeBytes = 0;
        limits.minFreePercent = percent;
        limits.diskFloorOff = false;
        error.clear();
        return true;
    }
    int shift = 0;
    std::string digits = text;
    switch (text.back()) {
    case 'K': shift = 10; break;
    case 'M': shift = 20; break;
    case 'G': shift = 30; break;
    case 'T': shift = 40; break;
    default: break;
    }
    if (shift != 0)
        digits.pop_back();
    uint64_t value = 0;
    if (!ParseWhole(digits, (1ull << 62) >> shift, value))
        return false;
    limits.minFreeBytes = value << shift;
    limits.minFreePercent = 0;
    limits.diskFloorOff = value == 0;
    error.clear();
    return true;
}

uint64_t ResolveDiskFloor(const ServeLimits& limits, uint64_t totalBytes)
{
    if (limits.diskFloorOff)
        return 0;
    if (limits.minFreeBytes != 0)
        return limits.minFreeBytes;
    const double percent = limits.minFreePercent != 0 ? limits.minFreePercent : 5.0;
    const uint64_t share = static_cast<uint64_t>(std::floor(static_cast<double>(totalBytes) * percent / 100.0));
    // Only the default is capped: a small disk would otherwise keep 1 GiB
    // free for nobody, a large one 5 % more than any upload needs.
    return limits.minFreePercent != 0 || share < kGiB ? share : kGiB;
}

std::string FormatRateLimit(const RateLimit& limit)
{
    if (limit.empty())
        return "off";
    std::string text;
    for (const RateRule& rule : limit) {
        if (!text.empty())
            text += ",";
        char part[64];
        const char* unit = rule.seconds == 1 ? "s" : rule.seconds == 60 ? "min" : rule.seconds == 3600 ? "h"
                                                     : rule.seconds == 86400 ? "day" : nullptr;
        if (unit != nullptr)
            std::snprintf(part, sizeof part, "%.0f/%s", rule.count, unit);
        else
            std::snprintf(part, sizeof part, "%.0f/%.0fs", rule.count, rule.seconds);
        text += part;
    }
    return text;
}
