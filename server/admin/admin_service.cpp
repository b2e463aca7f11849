#include "server/admin/admin_service.h"

#include "server/store/store_factory.h"

const char kSessionCookie[] = "brevora_session";
const char kLoginCookie[] = "brevora_login";

// Nothing from elsewhere, no script at all, and no framing.
const char kAdminContentSecurityPolicy[] =
    "default-src 'none'; style-src 'self'; img-src 'self'; form-action 'self'; base-uri 'none'; "
    "frame-ancestors 'none'";

bool OpenAdminService(AdminService& service, const std::string& dataDir, const std::string& databaseUrl,
                      ReportStore& reports, std::string& error)
{
    if (!StartPasswordHashing()) {
        error = "cannot start libsodium";
        return false;
    }
    service.dataDir = dataDir;
    service.reports = &reports;
    service.store = OpenAdminStore(dataDir, databaseUrl, error);
    if (!service.store || !service.store->IndexMissingReports(reports, true, error))
        return false;
    service.queue.reset(new IndexQueue(
        [&service](const std::vector<IndexedReport>& batch) {
            std::string failure;
            if (!service.store->IndexReports(batch, failure))
                LogStoreError(service, failure);
        },
        kIndexGathering));
    return true;
}

void IndexStoredReport(AdminService& service, int64_t id, const ReportOrigin& origin, const Report& report)
{
    service.queue->Add(DescribeForIndex(id, origin, report));
}

void IndexStoredReport(AdminService& service, int64_t id, const ReportOrigin& origin, const CrashReport& report)
{
    service.queue->Add(DescribeForIndex(id, origin, report));
}

void LogStoreError(AdminService& service, const std::string& error)
{
    if (service.log == nullptr)
        return;
    std::fprintf(service.log, "brevora-report-server: admin: %s\n", error.c_str());
    std::fflush(service.log);
}
