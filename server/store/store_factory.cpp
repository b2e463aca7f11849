#include "server/store/store_factory.h"

#include "server/store/postgres_admin_store.h"
#include "server/store/postgres_crash_store.h"
#include "server/store/postgres_report_store.h"
#include "server/store/sqlite_admin_store.h"
#include "server/store/sqlite_crash_store.h"
#include "server/store/sqlite_report_store.h"

bool IsPostgresUrl(const std::string& url)
{
    return url.compare(0, 13, "postgresql://") == 0 || url.compare(0, 11, "postgres://") == 0;
}

std::unique_ptr<ReportStore> OpenReportStore(const std::string& dataDir, const std::string& databaseUrl, bool create,
                                             std::string& error)
{
    if (databaseUrl.empty())
        return OpenSqliteReportStore(dataDir, create, error);
    if (!IsPostgresUrl(databaseUrl)) {
        error = "unsupported --database: expected a postgresql:// URL";
        return nullptr;
    }
    return OpenPostgresReportStore(databaseUrl, create, error);
}

std::unique_ptr<AdminStore> OpenAdminStore(const std::string& dataDir, const std::string& databaseUrl,
                                           std::string& error)
{
    return databaseUrl.empty() ? OpenSqliteAdminStore(dataDir, error) : OpenPostgresAdminStore(databaseUrl, error);
}

std::unique_ptr<CrashStore> OpenCrashStore(const std::string& dataDir, const std::string& databaseUrl,
                                           std::string& error)
{
    return databaseUrl.empty() ? OpenSqliteCrashStore(dataDir, error) : OpenPostgresCrashStore(databaseUrl, error);
}
