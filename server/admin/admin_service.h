// What the maintainers' interface keeps while it serves: its store, the
// password throttle, the queue of reports on their way to the list.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "server/admin/admin_auth.h"
#include "server/base/batch_queue.h"
#include "server/crash/crash_service.h"
#include "server/store/admin_store.h"
#include "server/store/report_store.h"

// The largest form body: release binaries are uploaded through a form.
const size_t kLargestAdminForm = 64 * 1024 * 1024;
const int64_t kSessionIdleSeconds = 8 * 3600;
const int kLoginFailuresAllowed = 5;  // per account and per address ...
const double kLoginFailureWindow = 60;  // ... in this many seconds
// How long reports just stored gather before they go on the list together
// (a page flushes them at once).
const std::chrono::milliseconds kIndexGathering(250);

extern const char kSessionCookie[];
extern const char kLoginCookie[];
extern const char kAdminContentSecurityPolicy[];

// Reports just stored, on their way to the maintainers' list.
typedef BatchQueue<IndexedReport> IndexQueue;

struct AdminService
{
    std::string dataDir;
    std::unique_ptr<AdminStore> store;
    ReportStore* reports = nullptr;  // report pages and downloads read through it
    CrashService* crashes = nullptr;  // the crash pages read through it; null: none
    bool secureCookies = false;  // under TLS
    int64_t sessionIdleSeconds = kSessionIdleSeconds;
    LoginThrottle throttle{kLoginFailuresAllowed, kLoginFailureWindow};
    std::mutex publishMutex;  // one publisher at a time
    FILE* log = nullptr;      // one line per request; nullptr: none
    // Reports just stored, on their way to the list; last, so that it is
    // emptied while the store is still open.
    std::unique_ptr<IndexQueue> queue;
};

// Opens the interface's store beside the reports (PostgreSQL's when
// databaseUrl is given, else dataDir's reports.db), indexes the reports that are not
// yet (read through reports, which must outlive the service) and starts the
// password hashing.
bool OpenAdminService(AdminService& service, const std::string& dataDir, const std::string& databaseUrl,
                      ReportStore& reports, std::string& error);

// Queues a report just stored for the list and the search index; a failure
// is logged, and the report is indexed at the next start (or at the next
// page while no newer report has been indexed).
void IndexStoredReport(AdminService& service, int64_t id, const ReportOrigin& origin, const Report& report);
void IndexStoredReport(AdminService& service, int64_t id, const ReportOrigin& origin, const CrashReport& report);

// One line in the log (when there is one) for a store failure that the
// page does not show.
void LogStoreError(AdminService& service, const std::string& error);
