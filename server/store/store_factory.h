// Opens the stores on the engine that the command line names: SQLite in the
// data folder, or a PostgreSQL database that several servers share.
#pragma once

#include <memory>
#include <string>

#include "server/store/admin_store.h"
#include "server/store/crash_store.h"
#include "server/store/report_store.h"

// Opens the store: PostgreSQL when databaseUrl is given (postgresql:// or
// postgres://), else dataDir/reports.db. With create, a missing SQLite file
// or PostgreSQL table is made (the data folder must exist); without, it is
// an error. An older schema is migrated. On failure error says why.
std::unique_ptr<ReportStore> OpenReportStore(const std::string& dataDir, const std::string& databaseUrl, bool create,
                                             std::string& error);

// True for the URLs OpenReportStore takes as PostgreSQL's.
bool IsPostgresUrl(const std::string& url);

// The store beside the reports: PostgreSQL when databaseUrl is given, else
// dataDir/reports.db.
std::unique_ptr<AdminStore> OpenAdminStore(const std::string& dataDir, const std::string& databaseUrl,
                                           std::string& error);

// The crash tables beside the reports, likewise.
std::unique_ptr<CrashStore> OpenCrashStore(const std::string& dataDir, const std::string& databaseUrl,
                                           std::string& error);
