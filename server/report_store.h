// The report database: one SQLite file, reports.db, in the data folder, with
// bug reports and crash reports in two tables that share one sequence of
// ids, so that an id names one report of either kind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "server/report_parser.h"
#include "server/sqlite_handles.h"

extern const char kDatabaseFileName[];

// Where and how a report arrived.
struct ReportOrigin
{
    std::string receivedUtc;  // "2024-05-01T12:34:56.789Z"
    std::string peer;         // "127.0.0.1:50312", "[::1]:50312"
    std::string userAgent;
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
    size_t rawBodySize = 0;
};

struct StoredCrashReport
{
    int64_t id = 0;
    ReportOrigin origin;
    CrashReport report;
    size_t rawBodySize = 0;
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

enum class LoadResult
{
    Found,
    NotFound,
    Failed
};

// Opens dataDir/reports.db in WAL mode with full syncs. With create, the
// file and its tables are made when missing (the folder must exist);
// without, a missing database is an error. A database of the first schema
// (bug reports only) gets the crash table. On failure error says why.
SqliteDatabase OpenReportDatabase(const std::string& dataDir, bool create, std::string& error);

// Stores one report with its raw body and sets id. Returns only once the
// insert has committed. Not for concurrent use of one connection.
bool InsertReport(sqlite3* db, const ReportOrigin& origin, const Report& report, const std::string& rawBody,
                  int64_t& id, std::string& error);

// The same for a crash report; its id follows every id given so far, of
// either kind.
bool InsertCrashReport(sqlite3* db, const ReportOrigin& origin, const CrashReport& report,
                       const std::string& rawBody, int64_t& id, std::string& error);

// Reports of both kinds, by id.
bool ListReports(sqlite3* db, std::vector<ReportSummary>& reports, std::string& error);

// Loads every field but the raw body, of which only the size.
LoadResult LoadReport(sqlite3* db, int64_t id, StoredReport& stored, std::string& error);
LoadResult LoadCrashReport(sqlite3* db, int64_t id, StoredCrashReport& stored, std::string& error);

// The stored fields of a report, every column but the id, in table order.
// export --all names its files after them.
extern const char* const kStoredFieldNames[];
extern const size_t kStoredFieldCount;
extern const char* const kStoredCrashFieldNames[];
extern const size_t kStoredCrashFieldCount;

// Calls visit with each report's id, kind and stored fields, byte for byte
// and in the order of kStoredFieldNames or kStoredCrashFieldNames, oldest
// report first; one report is in memory at a time. A visit that returns
// false stops the walk with its error.
typedef std::function<bool(int64_t id, ReportKind kind, const std::vector<std::string>& fields, std::string& error)>
    StoredFieldsVisitor;
bool VisitStoredFields(sqlite3* db, const StoredFieldsVisitor& visit, std::string& error);
