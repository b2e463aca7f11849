// serve: the reporters' listener and the maintainers' interface, each on a
// guarded server of its own, until SIGINT or SIGTERM.
#include <errno.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "server/admin/admin_routes.h"
#include "server/alerts/alert_service.h"
#include "server/api/report_routes.h"
#include "server/base/file_io.h"
#include "server/commands/commands.h"
#include "server/crash/crash_service.h"
#include "server/net/connection_guard.h"
#include "server/net/tls_files.h"
#include "server/store/report_store.h"
#include "server/store/store_factory.h"

namespace {

std::string DescribeBindFailure(const std::string& address, int code)
{
    std::string why;
    switch (code) {
    case EADDRINUSE:
        why = "the port is already in use";
        break;
    case EADDRNOTAVAIL:
        why = "the address is not one of this machine's";
        break;
    case EACCES:
        why = "permission denied (ports below 1024 need privileges)";
        break;
    default:
        why = code != 0 ? std::strerror(code) : "bind failed";
        break;
    }
    return "cannot listen on " + address + ": " + why;
}

std::string DescribeDiskFloor(const ServeLimits& limits, const std::string& dataDir)
{
    if (limits.diskFloorOff)
        return "off";
    uint64_t freeBytes = 0;
    uint64_t totalBytes = 0;
    std::string error;
    if (!ReadFreeSpace(dataDir, freeBytes, totalBytes, error))
        return error;
    char text[96];
    std::snprintf(text, sizeof text, "%.1f MiB (%.1f MiB free)",
                  static_cast<double>(ResolveDiskFloor(limits, totalBytes)) / 1048576.0,
                  static_cast<double>(freeBytes) / 1048576.0);
    return text;
}

// Each upload takes a few buffers of its body's size. glibc hands blocks
// that large back to the system when freed, so the next upload had its
// memory mapped and zeroed again page by page; kept in the heap instead,
// they are reused from one upload to the next.
void KeepUploadBuffers()
{
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, 16 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
}

// Binds address (port 0: any free one); the port bound, or 0 with errno set.
int BindServer(httplib::Server& server, const ListenAddress& address)
{
    errno = 0;
    if (address.port == 0)
        return std::max(server.bind_to_any_port(address.host), 0);
    return server.bind_to_port(address.host, address.port) ? address.port : 0;
}

// The slow-client guard over plain HTTP, or over HTTPS when a certificate
// is given; null (after one line on standard error) when the TLS set-up
// fails.
std::unique_ptr<httplib::Server> MakeServer(const CommandLine& line, ReportService& service)
{
    std::unique_ptr<GuardedServer> server(new GuardedServer(line.limits, service.refusals.get()));
    std::string error;
    if (!line.tlsCert.empty() && !server->UseTls(line.tlsCert, line.tlsKey, error)) {
        PrintError(error);
        return nullptr;
    }
    return std::unique_ptr<httplib::Server>(server.release());
}

}  // namespace

int RunServe(const CommandLine& line)
{
    KeepUploadBuffers();
    // A bad certificate stops the server before it touches the data folder.
    std::string error;
    if (!line.tlsCert.empty() && !CheckTlsFiles(line.tlsCert, line.tlsKey, error)) {
        PrintError(error);
        return 1;
    }
    // Passwords and session cookies would cross the network in the clear.
    const bool adminInClear = !line.noAdmin && line.tlsCert.empty() && !IsLoopbackHost(line.adminListen.host);
    if (adminInClear && !line.adminInsecure) {
        PrintError("the maintainers' interface would listen on " +
                   FormatHostPort(line.adminListen.host, line.adminListen.port) +
                   " without TLS: give --tls-cert and --tls-key, or --admin-insecure");
        return 1;
    }
    if (adminInClear)
        std::fprintf(stderr, "brevora-report-server: warning: the maintainers' interface listens on %s without TLS "
                             "(--admin-insecure): passwords and sessions cross the network in the clear\n",
                     FormatHostPort(line.adminListen.host, line.adminListen.port).c_str());
    if (!CreateFolders(line.dataDir, error)) {
        PrintError("cannot create the data folder '" + line.dataDir + "': " + error);
        return 1;
    }
    ReportService service;
    service.dataDir = line.dataDir;
    service.maxBody = line.maxBody;
    service.maxCrashBody = line.maxCrashBody;
    service.failUploads = line.failUploads;
    service.log = stderr;
    ApplyServeLimits(service, line.limits);
    service.store = OpenReportStore(line.dataDir, line.databaseUrl, true, error);
    if (!service.store) {
        PrintError(error);
        return 1;
    }

    // Blocked before any thread starts, so httplib's workers inherit the mask
    // and only the waiter below ever sees these signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // A client that hangs up mid-answer must not end the server.
    signal(SIGPIPE, SIG_IGN);

    // The alerts' outbox is emptied by a thread of its own.
    AlertService alerts;
    alerts.log = stderr;
    if (!MakeAlertSettings(line, alerts.settings, error) ||
        !StartAlertService(alerts, line.dataDir, line.databaseUrl, error)) {
        PrintError(error);
        return 1;
    }

    // Crash reports are read into their groups by a thread of their own;
    // those stored while no server ran go first.
    CrashService crashes;
    crashes.log = stderr;
    if (!OpenCrashService(crashes, line.dataDir, line.databaseUrl, *service.store, error)) {
        PrintError(error);
        return 1;
    }
    const unsigned long openFiles = RaiseOpenFileLimit();
    std::unique_ptr<httplib::Server> server = MakeServer(line, service);
    if (!server)
        return 1;
    InstallReportRoutes(*server, service);

    const std::string requested = FormatHostPort(line.listen.host, line.listen.port);
    const int port = BindServer(*server, line.listen);
    if (port == 0) {
        PrintError(DescribeBindFailure(requested, errno));
        return 1;
    }

    // The maintainers' interface: its own listener, HTTPS too when the
    // reporters' is, with the same guard against slow clients otherwise.
    AdminService admin;
    admin.log = stderr;
    admin.secureCookies = !line.tlsCert.empty();
    admin.sessionLifetimeSeconds = line.sessionLifetimeSeconds;
    std::unique_ptr<httplib::Server> adminServer;
    int adminPort = 0;
    if (!line.noAdmin) {
        if (!OpenAdminService(admin, line.dataDir, line.databaseUrl, *service.store, error)) {
            PrintError(error);
            return 1;
        }
        admin.crashes = &crashes;
        admin.alerts = alerts.store.get();
        adminServer = MakeServer(line, service);
        if (!adminServer)
            return 1;
        InstallAdminRoutes(*adminServer, admin);
        const std::string adminRequested = FormatHostPort(line.adminListen.host, line.adminListen.port);
        adminPort = BindServer(*adminServer, line.adminListen);
        if (adminPort == 0 && line.adminListenGiven) {
            PrintError(DescribeBindFailure(adminRequested, errno));
            return 1;
        }
        // The default address taken (another server on this machine): the
        // reports still come in; only the interface is missing.
        if (adminPort == 0)
            std::fprintf(stderr, "brevora-report-server: warning: no maintainers' interface: %s\n",
                         DescribeBindFailure(adminRequested, errno).c_str());
        else
            std::fprintf(stderr, "brevora-report-server: maintainers' interface at %s://%s/\n",
                         line.tlsCert.empty() ? "http" : "https",
                         FormatHostPort(line.adminListen.host, adminPort).c_str());
    }
    // Once a report is stored, before its 201: its line in the interface's
    // list (when the interface runs), then a bug report's alert, keyed by
    // its id, or a crash report's place in the queue for its group.
    AdminService* const index = line.noAdmin ? nullptr : &admin;
    service.onStored = [index, &alerts](int64_t id, const ReportOrigin& origin, const Report& report) {
        if (index != nullptr)
            IndexStoredReport(*index, id, origin, report);
        QueueBugReportAlert(alerts, id, report.component, origin.receivedUtc);
    };
    service.onCrashStored = [index, &crashes](int64_t id, const ReportOrigin& origin, const CrashReport& report) {
        if (index != nullptr)
            IndexStoredReport(*index, id, origin, report);
        QueueCrashReport(crashes, id, origin, report);
    };
    // One start line: scripts wait for it and read the port from it.
    std::fprintf(stderr,
                 "brevora-report-server: listening on %s%s, data in %s, reports in the %s, bodies up to %llu bytes (crash reports %llu)%s; limits: head %d s, "
                 "body at least %llu B/s over %d s after %d s, %d connections per address, %d at once (%lu open "
                 "files), uploads %s, queries %s, 429 after %d s, free space floor %s\n",
                 FormatHostPort(line.listen.host, port).c_str(), line.tlsCert.empty() ? "" : " (HTTPS)",
                 line.dataDir.c_str(), service.store->Describe().c_str(),
                 static_cast<unsigned long long>(line.maxBody), static_cast<unsigned long long>(line.maxCrashBody),
                 line.failUploads ? ", every upload failing" : "",
                 line.limits.headerSeconds, static_cast<unsigned long long>(line.limits.bodyMinRate),
                 line.limits.bodyWindowSeconds, line.limits.bodyGraceSeconds, line.limits.connectionsPerAddress,
                 line.limits.maxConnections, openFiles, FormatRateLimit(line.limits.uploadRate).c_str(),
                 FormatRateLimit(line.limits.queryRate).c_str(), line.limits.rateRefusalDelaySeconds,
                 DescribeDiskFloor(line.limits, line.dataDir).c_str());
    std::fflush(stderr);

    std::atomic<bool> listenEnded(false);
    std::atomic<int> caught(0);
    std::thread waiter([&]() {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        caught = signal;
        // A stop() before listening has begun would be lost.
        while (!server->is_running() && !listenEnded)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        server->stop();
        while (adminPort != 0 && !adminServer->is_running() && !listenEnded)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (adminServer)
            adminServer->stop();
    });
    std::thread adminListener;
    if (adminPort != 0)
        adminListener = std::thread([&adminServer]() { adminServer->listen_after_bind(); });

    // Returns once stopped and every running request has been answered.
    server->listen_after_bind();
    listenEnded = true;
    if (caught == 0)
        pthread_kill(waiter.native_handle(), SIGTERM);  // wake the waiter
    waiter.join();
    if (adminListener.joinable())
        adminListener.join();

    if (caught == 0 || (caught != SIGINT && caught != SIGTERM)) {
        PrintError("stopped listening on " + requested + " unexpectedly");
        return 1;
    }
    std::fprintf(stderr, "brevora-report-server: stopped on %s\n", caught == SIGINT ? "SIGINT" : "SIGTERM");
    return 0;
}
