#include "server/store/crash_store.h"

#include <time.h>

#include <cstdio>

#include "server/base/version_text.h"

const char* const kGroupStatuses[] = {"new", "fixed", "ignored", "regression", nullptr};

bool IsGroupStatus(const std::string& status)
{
    for (const char* const* s = kGroupStatuses; *s != nullptr; ++s) {
        if (status == *s)
            return true;
    }
    return false;
}

std::string FormatBinaryKey(const BinaryKey& key)
{
    char numbers[32];
    std::snprintf(numbers, sizeof numbers, "/%08x/%x", key.timestamp, key.imageSize);
    return key.module + numbers;
}

std::string ShiftUtcDay(const std::string& day, int days)
{
    struct tm date = {};
    if (day.size() != 10 || std::sscanf(day.c_str(), "%4d-%2d-%2d", &date.tm_year, &date.tm_mon, &date.tm_mday) != 3)
        return std::string();
    date.tm_year -= 1900;
    date.tm_mon -= 1;
    date.tm_hour = 12;  // no second of a leap or a shift can move it a day
    const time_t shifted = timegm(&date) + static_cast<time_t>(days) * 86400;
    struct tm out;
    gmtime_r(&shifted, &out);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", out.tm_year + 1900, out.tm_mon + 1, out.tm_mday);
    return text;
}

bool IsRegression(const std::string& status, const std::string& fixedVersion, const std::string& version)
{
    return status == "fixed" && (fixedVersion.empty() || CompareVersions(version, fixedVersion) > 0);
}

std::string JoinModuleKeys(const std::vector<std::string>& keys)
{
    std::string text;
    for (const std::string& key : keys)
        text += key + "\n";
    return text;
}

std::vector<std::string> SplitModuleKeys(const std::string& text)
{
    std::vector<std::string> keys;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        keys.push_back(text.substr(at, end - at));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return keys;
}

std::string ListIds(const std::vector<CrashGroup>& groups)
{
    std::string list;
    for (const CrashGroup& group : groups)
        list += (list.empty() ? "" : ",") + std::to_string(group.id);
    return list;
}

CrashGroup* FindGroup(std::vector<CrashGroup>& groups, int64_t id)
{
    for (CrashGroup& group : groups) {
        if (group.id == id)
            return &group;
    }
    return nullptr;
}
