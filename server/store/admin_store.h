// What the maintainers' interface keeps beside the reports: accounts,
// sessions, each report's triage status and its audit list, and the index
// the report list is searched and filtered through. A narrow interface so
// that either store holds it: the SQLite engine keeps it in reports.db next
// to the reports it describes, the PostgreSQL engine in the database of the
// reports (store_factory.h opens the one that goes with the reports).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "server/store/report_store.h"

struct AdminUser
{
    std::string name;
    std::string createdUtc;
};

struct AdminSession
{
    std::string user;
    std::string csrfToken;
};

// A report's triage: status is one of kTriageStatuses; duplicateOf only
// with "duplicate".
struct Triage
{
    std::string status = "new";
    int64_t duplicateOf = 0;
    std::string note;
};

struct AuditEntry
{
    std::string atUtc;
    std::string user;
    Triage triage;
};

extern const char* const kTriageStatuses[];  // "new", "triaged", "fixed", "duplicate", "invalid"; null-ended
bool IsTriageStatus(const std::string& status);

// Every field empty: no filter. Dates are "YYYY-MM-DD", both days included.
struct ReportFilter
{
    std::string component;
    std::string status;
    std::string fromDate;
    std::string toDate;
    std::string text;  // words, all of which a report's descriptions or e-mail must hold
    std::string version;  // the Brevora version a report names, exactly
};

struct ReportLine
{
    int64_t id = 0;
    ReportKind kind = ReportKind::Bug;
    std::string receivedUtc;
    std::string component;
    std::string version;
    std::string email;
    std::string whatHappened;  // the start of "what happened" (of a crash report: its comment)
    std::string status;
};

struct DayCount
{
    std::string day;  // "YYYY-MM-DD"
    std::string component;
    int64_t count = 0;
};

struct StatusCount
{
    std::string status;
    int64_t count = 0;
};

// A report as the list and the search index hold it, taken from the
// decoded report (never from the stored columns, which may be zstd frames).
struct IndexedReport
{
    int64_t id = 0;
    ReportKind kind = ReportKind::Bug;
    std::string receivedUtc;
    std::string component;
    std::string version;       // UTF-8, as the report page shows it
    std::string email;
    std::string whatHappened;  // its first 300 bytes
    std::string searchText;    // the descriptions (of a crash report: its comment)
};

// What a maintainer typed into the search box, split at spaces, tabs and
// line ends; both stores make their queries from these pieces.
std::vector<std::string> SplitSearchText(const std::string& text);

IndexedReport DescribeForIndex(int64_t id, const ReportOrigin& origin, const Report& report);
IndexedReport DescribeForIndex(int64_t id, const ReportOrigin& origin, const CrashReport& report);

// The same for the report of that id and kind, read through reports.
LoadResult DescribeStoredReport(ReportStore& reports, int64_t id, ReportKind kind, IndexedReport& indexed,
                                std::string& error);

// For a store bringing the lines an older server indexed up to date, once,
// inside the transaction that changes its table: every line's report
// described again (one gone meanwhile is passed over), in id order and in
// batches as IndexMissingReports indexes, so that memory does not grow
// with the database. findBatch lists the next lines after an id (at most
// count); rewrite replaces the lines' texts and version with the batch's.
bool DescribeIndexedReportsAgain(
    ReportStore& reports,
    const std::function<bool(int64_t after, size_t count, std::vector<std::pair<int64_t, ReportKind>>& lines,
                             std::string& error)>& findBatch,
    const std::function<bool(const std::vector<IndexedReport>& batch, std::string& error)>& rewrite,
    std::string& error);

class AdminStore
{
public:
    virtual ~AdminStore() = default;

    // Accounts; hash is crypto_pwhash_str's text, never the password.
    virtual StoreAnswer AddUser(const std::string& name, const std::string& hash, const std::string& createdUtc,
                                std::string& error) = 0;
    // Ends the user's sessions too.
    virtual StoreAnswer RemoveUser(const std::string& name, std::string& error) = 0;
    virtual bool ListUsers(std::vector<AdminUser>& users, std::string& error) = 0;
    virtual StoreAnswer FindPasswordHash(const std::string& name, std::string& hash, std::string& error) = 0;

    // Sessions by a digest of their token (the token itself is never
    // stored); now in seconds since the epoch.
    virtual bool CreateSession(const std::string& tokenDigest, const AdminSession& session, int64_t now,
                               std::string& error) = 0;
    // A session unused for more than idleSeconds has ended (and is
    // forgotten); otherwise its last use becomes now.
    virtual StoreAnswer ResumeSession(const std::string& tokenDigest, int64_t now, int64_t idleSeconds,
                                      AdminSession& session, std::string& error) = 0;
    virtual bool EndSession(const std::string& tokenDigest, std::string& error) = 0;

    // Triage of one report, with a line in its audit list.
    virtual StoreAnswer SetTriage(int64_t id, const Triage& triage, const std::string& user,
                                  const std::string& atUtc, std::string& error) = 0;
    // The current triage and the audit list, oldest first.
    virtual StoreAnswer LoadTriage(int64_t id, Triage& triage, std::vector<AuditEntry>& audit,
                                   std::string& error) = 0;

    // Adds stored reports to the list and the search index in one
    // transaction; a report indexed already keeps its line and triage.
    virtual bool IndexReports(const std::vector<IndexedReport>& batch, std::string& error) = 0;
    // Indexes, reading them through reports, the reports stored while no
    // interface was running or by another process: with everyReport, every
    // one not yet indexed; without, only those newer than the newest
    // indexed (cheap enough for each page). Read outside the store's lock,
    // and indexed in batches: a synced commit each would make a first start
    // over many reports slow. A report removed since it was found is passed
    // over.
    bool IndexMissingReports(ReportStore& reports, bool everyReport, std::string& error);
    // The reports (id and kind, in id order) that IndexMissingReports reads.
    virtual bool FindMissingReports(bool everyReport, std::vector<std::pair<int64_t, ReportKind>>& missing,
                                    std::string& error) = 0;

    // Newest first; more says whether lines follow the last one given.
    virtual bool ListReportLines(const ReportFilter& filter, int64_t offset, int64_t count,
                                 std::vector<ReportLine>& lines, bool& more, std::string& error) = 0;
    // Reports per day and component received on fromDate or later.
    virtual bool CountReportsPerDay(const std::string& fromDate, std::vector<DayCount>& counts,
                                    std::string& error) = 0;
    virtual bool CountStatuses(std::vector<StatusCount>& counts, std::string& error) = 0;
};
