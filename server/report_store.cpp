#include "server/report_store.h"

#include "server/postgres_store.h"
#include "server/report_columns.h"
#include "server/sqlite_store.h"

const char kDatabaseFileName[] = "reports.db";

const char* const kStoredFieldNames[] = {
    "received_utc", "peer", "user_agent", "email", "description1", "description2", "description3", "system_info",
    "attachment_name", "attachment", "attachment_state", "attachment_log_name", "attachment_log",
    "attachment_log_state", "raw_body", "component", "version", "code_page",
};
const size_t kStoredFieldCount = sizeof kStoredFieldNames / sizeof kStoredFieldNames[0];
static_assert(sizeof kStoredFieldNames / sizeof kStoredFieldNames[0] == REPORT_COLUMN_COUNT,
              "one field per column");

const char* const kStoredCrashFieldNames[] = {
    "received_utc", "peer", "user_agent", "comment", "attachment_dump_name", "attachment_dump",
    "attachment_dump_state", "attachment_log_name", "attachment_log", "attachment_log_state",
    "attachment_conf_name", "attachment_conf", "attachment_conf_state", "raw_body", "version",
};
const size_t kStoredCrashFieldCount = sizeof kStoredCrashFieldNames / sizeof kStoredCrashFieldNames[0];
static_assert(sizeof kStoredCrashFieldNames / sizeof kStoredCrashFieldNames[0] == CRASH_COLUMN_COUNT,
              "one field per column");

const char* NameReportKind(ReportKind kind)
{
    return kind == ReportKind::Crash ? "crash" : "bug";
}

bool IsPostgresUrl(const std::string& url)
{
    return url.compare(0, 13, "postgresql://") == 0 || url.compare(0, 11, "postgres://") == 0;
}

std::unique_ptr<ReportStore> OpenReportStore(const std::string& dataDir, const std::string& databaseUrl, bool create,
                                             std::string& error)
{
    if (databaseUrl.empty())
        return OpenSqliteStore(dataDir, create, error);
    if (!IsPostgresUrl(databaseUrl)) {
        error = "unsupported --database: expected a postgresql:// URL";
        return nullptr;
    }
    return OpenPostgresStore(databaseUrl, create, error);
}

std::vector<std::string> ListStoredFields(const StoredReport& stored)
{
    const Report& r = stored.report;
    return {
        stored.origin.receivedUtc, stored.origin.peer, stored.origin.userAgent, r.email, r.description1,
        r.description2, r.description3, r.systemInfo, r.attachment.name, r.attachment.content,
        NameFileState(r.attachment.state), r.attachmentLog.name, r.attachmentLog.content,
        NameFileState(r.attachmentLog.state), stored.rawBody, r.component, r.version, r.codePage,
    };
}

std::vector<std::string> ListStoredFields(const StoredCrashReport& stored)
{
    const CrashReport& r = stored.report;
    return {
        stored.origin.receivedUtc, stored.origin.peer, stored.origin.userAgent, r.comment, r.dump.name,
        r.dump.content, NameFileState(r.dump.state), r.log.name, r.log.content, NameFileState(r.log.state),
        r.conf.name, r.conf.content, NameFileState(r.conf.state), stored.rawBody, r.version,
    };
}

bool VisitStoredFields(ReportStore& store, const StoredFieldsVisitor& visit, std::string& error)
{
    std::vector<ReportSummary> reports;
    if (!store.ListReports(reports, error))
        return false;
    for (const ReportSummary& summary : reports) {
        StoredReport stored;
        StoredCrashReport crash;
        const bool isCrash = summary.kind == ReportKind::Crash;
        const LoadResult result = isCrash ? store.LoadCrashReport(summary.id, crash, error)
                                          : store.LoadReport(summary.id, stored, error);
        switch (result) {
        case LoadResult::Found:
            if (!visit(summary.id, summary.kind, isCrash ? ListStoredFields(crash) : ListStoredFields(stored), error))
                return false;
            break;
        case LoadResult::NotFound:
            break;  // removed since the list was read
        case LoadResult::Failed:
            return false;
        }
    }
    return true;
}
