// The maintainers' alert rules and the outbox of the alerts they raise.
// An event (a new crash group, a regression, a spike, a new bug report) is
// written to the outbox once per matching rule, in the transaction that
// stores what caused it, and stays there until a server has delivered it
// or given up; servers sharing a database claim rows so that each is sent
// by one of them.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "server/store/report_store.h"

// The event kinds, as rules and payloads name them; null-ended.
extern const char* const kAlertEvents[];
bool IsAlertEvent(const std::string& name);

struct AlertRule
{
    int64_t id = 0;
    std::vector<std::string> events;  // of kAlertEvents
    std::vector<std::string> components;  // bug reports of these only; empty: all
    std::string webhookUrl;  // one of webhookUrl and email
    std::string secret;      // signs the webhook's body; empty: unsigned
    std::string email;
    std::string addedUtc;
};

// One event for one rule, with the facts its message names.
struct AlertDelivery
{
    int64_t id = 0;
    AlertRule rule;
    std::string event;
    int64_t reportId = 0;
    int64_t groupId = 0;  // 0 for a bug report
    std::string signature;
    int64_t groupCount = 0;  // the group's reports when the event was raised
    int64_t hourCount = 0;   // of them in that clock hour
    std::string version;     // the report's
    std::vector<std::pair<std::string, int64_t>> versions;  // the group's, most reports first
    std::string component;   // a bug report's
    std::string createdUtc;
    int64_t createdAt = 0;   // seconds since 1970
    int attempts = 0;
    std::string status;      // "pending", "sent" or "failed"
    std::string lastError;
};

enum class DeliveryOutcome
{
    Sent,
    Retry,  // again at nextAttempt
    Failed  // given up
};

class AlertStore
{
public:
    virtual ~AlertStore() {}

    // Adds rule, setting its id.
    virtual bool AddRule(AlertRule& rule, std::string& error) = 0;
    // Removes the rule and what it still had to send.
    virtual StoreAnswer RemoveRule(int64_t id, std::string& error) = 0;
    virtual bool ListRules(std::vector<AlertRule>& rules, std::string& error) = 0;

    // Queues the bug-report event of a stored report for every rule that
    // asks for it; a second call for the same report adds nothing.
    virtual bool QueueBugReportAlert(int64_t reportId, const std::string& component, const std::string& receivedUtc,
                                     std::string& error) = 0;

    // Takes up to limit pending deliveries that are due at now (seconds
    // since 1970) and that no other server holds, for leaseSeconds, as
    // owner; oldest first.
    virtual bool ClaimDeliveries(const std::string& owner, int64_t now, int leaseSeconds, int limit,
                                 std::vector<AlertDelivery>& deliveries, std::string& error) = 0;
    // Records what became of a claimed delivery; nothing when owner no
    // longer holds it.
    virtual bool FinishDelivery(int64_t id, const std::string& owner, DeliveryOutcome outcome, int64_t nextAttempt,
                                const std::string& lastError, const std::string& doneUtc, std::string& error) = 0;
    // The newest deliveries, newest first, for the maintainers.
    virtual bool ListDeliveries(int limit, std::vector<AlertDelivery>& deliveries, std::string& error) = 0;
};

// What a saved crash analysis tells the alerts, gathered inside the crash
// store's transaction.
struct CrashAlertFacts
{
    int64_t reportId = 0;
    int64_t groupId = 0;
    std::string signature;
    std::string version;
    std::string receivedUtc;
    bool firstAnalysis = false;  // not a report processed again
    bool newGroup = false;
    bool regression = false;     // the save reopened a fixed group
    int64_t groupCount = 0;      // with this report
    std::string firstSeenUtc;    // the group's
};

// The facts both engines copy from the analysis being saved.
struct CrashAnalysis;
void FillAlertFacts(const CrashAnalysis& analysis, int64_t groupId, CrashAlertFacts& facts);

// Per group, what limits its alerts: its last alert and spike, and its
// reports in the current clock hour.
struct GroupAlertState
{
    std::string lastAlertUtc;
    std::string lastSpikeUtc;
    std::string hour;  // "YYYY-MM-DDTHH"
    int64_t hourCount = 0;
};

// Counts the report into state and says which event it raises: "" for
// none. A group raises at most one an hour; a spike is at least 10 reports
// in a clock hour and ten times the group's usual hourly rate, at most one
// a day.
std::string ChooseCrashEvent(const CrashAlertFacts& facts, GroupAlertState& state);

// The outbox row of the crash event name, as ChooseCrashEvent chose it for
// facts, without the group's versions.
AlertDelivery MakeCrashEvent(const std::string& name, const CrashAlertFacts& facts, const GroupAlertState& state);

// The outbox row of a stored bug report.
AlertDelivery MakeBugReportEvent(int64_t reportId, const std::string& component, const std::string& receivedUtc);

// "sent", "pending" (to be retried) or "failed".
const char* NameDeliveryStatus(DeliveryOutcome outcome);

// Seconds since 1970 of "YYYY-MM-DDTHH:MM:SS[.fff]Z"; -1 when it is not one.
int64_t ParseUtcSeconds(const std::string& utc);

// Both engines keep a rule's lists as ",a,b," in lower case (found with
// position or instr) and the
// group's versions as "version\tcount\n" lines.
std::string JoinAlertList(const std::vector<std::string>& items);
std::vector<std::string> SplitAlertList(const std::string& text);
std::string JoinVersionCounts(const std::vector<std::pair<std::string, int64_t>>& versions);
std::vector<std::pair<std::string, int64_t>> SplitVersionCounts(const std::string& text);
