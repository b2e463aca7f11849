#include "server/store/alert_store.h"

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "server/base/ascii_text.h"
#include "server/store/crash_store.h"

const char* const kAlertEvents[] = {"new-group", "regression", "spike", "bug-report", nullptr};

bool IsAlertEvent(const std::string& name)
{
    for (const char* const* event = kAlertEvents; *event != nullptr; ++event) {
        if (name == *event)
            return true;
    }
    return false;
}

int64_t ParseUtcSeconds(const std::string& utc)
{
    struct tm parts;
    std::memset(&parts, 0, sizeof parts);
    int consumed = 0;
    if (std::sscanf(utc.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &parts.tm_year, &parts.tm_mon, &parts.tm_mday,
                    &parts.tm_hour, &parts.tm_min, &parts.tm_sec, &consumed) != 6 ||
        consumed != 19)
        return -1;
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    return static_cast<int64_t>(timegm(&parts));
}

namespace {

const int64_t kHour = 3600;

// Whether at least seconds separate the two times (an empty earlier: never
// happened, so yes).
bool IsLongAfter(const std::string& earlier, const std::string& later, int64_t seconds)
{
    if (earlier.empty())
        return true;
    const int64_t from = ParseUtcSeconds(earlier);
    const int64_t to = ParseUtcSeconds(later);
    return from < 0 || to < 0 || to - from >= seconds;
}

}  // namespace

std::string ChooseCrashEvent(const CrashAlertFacts& facts, GroupAlertState& state)
{
    if (!facts.firstAnalysis)
        return "";  // a report processed again was counted the first time
    const std::string hour = facts.receivedUtc.substr(0, 13);
    if (state.hour != hour) {
        state.hour = hour;
        state.hourCount = 0;
    }
    ++state.hourCount;
    if (!IsLongAfter(state.lastAlertUtc, facts.receivedUtc, kHour))
        return "";
    std::string event;
    if (facts.newGroup) {
        event = "new-group";
    } else if (facts.regression) {
        event = "regression";
    } else if (state.hourCount >= 10 && IsLongAfter(state.lastSpikeUtc, facts.receivedUtc, 24 * kHour)) {
        // The usual rate: the group's reports before this hour over the
        // hours it had been seen (at least one).
        const int64_t hourStart = ParseUtcSeconds(hour + ":00:00Z");
        const int64_t firstSeen = ParseUtcSeconds(facts.firstSeenUtc);
        const int64_t before = facts.groupCount - state.hourCount;
        int64_t hours = hourStart >= 0 && firstSeen >= 0 ? (hourStart - firstSeen + kHour - 1) / kHour : 1;
        if (hours < 1)
            hours = 1;
        if (state.hourCount * hours >= 10 * before) {
            event = "spike";
            state.lastSpikeUtc = facts.receivedUtc;
        }
    }
    if (!event.empty())
        state.lastAlertUtc = facts.receivedUtc;
    return event;
}

void FillAlertFacts(const CrashAnalysis& analysis, int64_t groupId, CrashAlertFacts& facts)
{
    facts.reportId = analysis.reportId;
    facts.groupId = groupId;
    facts.signature = analysis.signature;
    facts.version = analysis.version;
    facts.receivedUtc = analysis.receivedUtc;
}

AlertDelivery MakeCrashEvent(const std::string& name, const CrashAlertFacts& facts, const GroupAlertState& state)
{
    AlertDelivery event;
    event.event = name;
    event.reportId = facts.reportId;
    event.groupId = facts.groupId;
    event.signature = facts.signature;
    event.groupCount = facts.groupCount;
    event.hourCount = state.hourCount;
    event.version = facts.version;
    event.createdUtc = facts.receivedUtc;
    return event;
}

AlertDelivery MakeBugReportEvent(int64_t reportId, const std::string& component, const std::string& receivedUtc)
{
    AlertDelivery event;
    event.event = "bug-report";
    event.reportId = reportId;
    event.component = component;
    event.createdUtc = receivedUtc;
    return event;
}

const char* NameDeliveryStatus(DeliveryOutcome outcome)
{
    switch (outcome) {
    case DeliveryOutcome::Sent:
        return "sent";
    case DeliveryOutcome::Failed:
        return "failed";
    case DeliveryOutcome::Retry:
        break;
    }
    return "pending";
}

std::string JoinAlertList(const std::vector<std::string>& items)
{
    if (items.empty())
        return "";
    std::string text = ",";
    for (const std::string& item : items)
        text += ToLowerAscii(item) + ",";  // components match whatever their ASCII case
    return text;
}

std::vector<std::string> SplitAlertList(const std::string& text)
{
    std::vector<std::string> items;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            items.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

std::string JoinVersionCounts(const std::vector<std::pair<std::string, int64_t>>& versions)
{
    std::string text;
    for (const auto& version : versions)
        text += version.first + "\t" + std::to_string(version.second) + "\n";
    return text;
}

std::vector<std::pair<std::string, int64_t>> SplitVersionCounts(const std::string& text)
{
    std::vector<std::pair<std::string, int64_t>> versions;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        const size_t tab = line.rfind('\t');
        if (tab != std::string::npos)
            versions.emplace_back(line.substr(0, tab), std::strtoll(line.c_str() + tab + 1, nullptr, 10));
        start = end + 1;
    }
    return versions;
}
