// Where reports are kept: one interface, two stores. SQLite (reports.db in
// the data folder) is the default; PostgreSQL (--database postgresql://...)
// lets several servers share one database. Both hold the same tables at the
// same schema version, and bring an older database up to it when opened:
// bug reports and crash reports in two tables that share one sequence of
// ids, so that an id names one report of either kind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "server/report/report.h"

extern const char kDatabaseFileName[];

// The schema version both stores create and migrate to. 1: the first
// server's table; 2: crash reports beside it; 3: the component of a bug
// report; 4: compressed fields (packing) and the raw body kept only when the
// fields do not rebuild it; 5: the version and code page of a report, and
// the upload keys.
const int kSchemaVersion = 5;

// Where and how a report arrived.
struct ReportOrigin
{
    std::string receivedUtc;  // "2024-05-01T12:34:56.789Z"
    std::string peer;         // "127.0.0.1:50312", "[::1]:50312"
    std::string userAgent;
    // The Idempotency-Key the upload came with, "" for none: every upload
    // with one key is one report.
    std::string uploadKey;
};

enum class ReportKind
{
    Bug,
    Crash
};

// "bug" or "crash", as list and export --all name them.
const char* NameReportKind(ReportKind kind);

struct StoredReport
{
    int64_t id = 0;
    ReportOrigin origin;
    Report report;
    std::string rawBody;  // the body as received: kept, or rebuilt from the fields
};

struct StoredCrashReport
{
    int64_t id = 0;
    ReportOrigin origin;
    CrashReport report;
    std::string rawBody;
};

// One line of the list.
struct ReportSummary
{
    int64_t id = 0;
    ReportKind kind = ReportKind::Bug;
    std::string receivedUtc;
    std::string email;
    std::string description1Start;  // the first bytes of the first description (of a crash: the comment)
};

enum class StoreAnswer
{
    Done,
    NotFound,  // no such user, session, report or group; an existing name for AddUser
    Failed
};

enum class LoadResult
{
    Found,
    NotFound,
    Failed
};

enum class InsertResult
{
    Stored,
    Repeated,  // the upload key named a stored report: id is that one's, nothing was written
    Full,  // no room in the database: nothing of the report was written
    Failed
};

// Every function may be called from several threads at once. error is one
// line.
class ReportStore
{
public:
    virtual ~ReportStore() = default;

    // "SQLite database DIR/reports.db", "PostgreSQL database NAME on HOST:PORT"
    // (never a password).
    virtual std::string Describe() const = 0;

    // True when the store writes to the data folder's disk, whose free-space
    // floor the server then keeps.
    virtual bool WritesToDataFolder() const = 0;

    // Stores one report and sets its id, unique across every server sharing
    // the database. Returns Stored only once the report has committed.
    // rawBody is the body the report was parsed from (kept only when its
    // fields do not give it back), or "" when there was none. With an upload
    // key in origin that an earlier report of either kind was stored with
    // (remembered for at least 7 days), nothing is stored: Repeated, and id
    // is the earlier report's.
    virtual InsertResult InsertReport(const ReportOrigin& origin, const Report& report, const std::string& rawBody,
                                      int64_t& id, std::string& error) = 0;
    // The same for a crash report; its id is never one of a bug report.
    virtual InsertResult InsertCrashReport(const ReportOrigin& origin, const CrashReport& report,
                                           const std::string& rawBody, int64_t& id, std::string& error) = 0;

    // Every report of both kinds, oldest id first.
    virtual bool ListReports(std::vector<ReportSummary>& reports, std::string& error) = 0;

    virtual LoadResult LoadReport(int64_t id, StoredReport& stored, std::string& error) = 0;
    virtual LoadResult LoadCrashReport(int64_t id, StoredCrashReport& stored, std::string& error) = 0;

    // Deletes these reports of either kind, all or none, and leaves no copy
    // of their bytes in the database's free space where the engine allows.
    virtual bool RemoveReports(const std::vector<int64_t>& ids, std::string& error) = 0;
};
