#include "server/store/stored_fields.h"

#include "server/store/report_columns.h"

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
