#include <errno.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "server/commands.h"
#include "server/file_io.h"
#include "server/report_routes.h"
#include "server/report_store.h"
#include "server/tls_files.h"

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

}  // namespace

// Plain HTTP, or HTTPS when a certificate is given; null (after one line on
// standard error) when the certificate or key will not do.
std::unique_ptr<httplib::Server> MakeServer(const CommandLine& line)
{
    if (line.tlsCert.empty())
        return std::unique_ptr<httplib::Server>(new httplib::Server);
    std::string error;
    if (!CheckTlsFiles(line.tlsCert, line.tlsKey, error)) {
        PrintError(error);
        return nullptr;
    }
    std::unique_ptr<httplib::SSLServer> server(new httplib::SSLServer(line.tlsCert.c_str(), line.tlsKey.c_str()));
    if (!server->is_valid()) {
        PrintError("cannot set up TLS with '" + line.tlsCert + "' and '" + line.tlsKey + "'");
        return nullptr;
    }
    return server;
}

int RunServe(const CommandLine& line)
{
    // A bad certificate stops the server before it touches the data folder.
    std::unique_ptr<httplib::Server> server = MakeServer(line);
    if (!server)
        return 1;
    std::string error;
    if (!CreateFolders(line.dataDir, error)) {
        PrintError("cannot create the data folder '" + line.dataDir + "': " + error);
        return 1;
    }
    ReportService service;
    service.dataDir = line.dataDir;
    service.maxBody = line.maxBody;
    service.failUploads = line.failUploads;
    service.log = stderr;
    service.db = OpenReportDatabase(line.dataDir, true, error);
    if (!service.db) {
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

    InstallReportRoutes(*server, service);

    const std::string requested = FormatHostPort(line.listen.host, line.listen.port);
    int port = line.listen.port;
    errno = 0;
    bool bound;
    if (port == 0) {
        port = server->bind_to_any_port(line.listen.host);
        bound = port > 0;
    } else {
        bound = server->bind_to_port(line.listen.host, port);
    }
    if (!bound) {
        PrintError(DescribeBindFailure(requested, errno));
        return 1;
    }
    std::fprintf(stderr, "brevora-report-server: listening on %s%s, data in %s, bodies up to %llu bytes%s\n",
                 FormatHostPort(line.listen.host, port).c_str(), line.tlsCert.empty() ? "" : " (HTTPS)",
                 line.dataDir.c_str(),
                 static_cast<unsigned long long>(line.maxBody),
                 line.failUploads ? ", every upload failing" : "");
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
    });

    // Returns once stopped and every running request has been answered.
    server->listen_after_bind();
    listenEnded = true;
    if (caught == 0)
        pthread_kill(waiter.native_handle(), SIGTERM);  // wake the waiter
    waiter.join();

    if (caught == 0 || (caught != SIGINT && caught != SIGTERM)) {
        PrintError("stopped listening on " + requested + " unexpectedly");
        return 1;
    }
    std::fprintf(stderr, "brevora-report-server: stopped on %s\n", caught == SIGINT ? "SIGINT" : "SIGTERM");
    return 0;
}
