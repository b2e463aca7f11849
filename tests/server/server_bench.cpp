// Upload throughput of brevora-report-server: N uploads of one realistic
// report from several concurrent clients, against a fresh server and data
// folder, for each log size. Prints figures; asserts nothing.
//
//   server_bench [--requests N] [--clients C] [--log-mib M]...
#include <httplib.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "server/report_parser.h"
#include "tests/server/report_factory.h"
#include "tests/server/server_process.h"
#include "tests/server/temp_folder.h"

namespace {

struct BenchRun
{
    size_t logBytes = 0;
    int requests = 0;
    int clients = 0;
};

double Percentile(std::vector<double> sorted, double fraction)
{
    if (sorted.empty())
        return 0;
    const size_t index = static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(index, sorted.size() - 1)];
}

long long FileSize(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : 0;
}

bool RunBench(const BenchRun& run)
{
    std::mt19937 rng(42);
    const std::string body = EncodeReport(MakeRealisticReport(rng, run.logBytes));
    // The reporter cuts a log that does not fit its 20 MiB body to its newest part.
    Report sent;
    std::string reason;
    if (!ParseReportBody(body.data(), body.size(), sent, reason)) {
        std::fprintf(stderr, "server_bench: the report does not parse: %s\n", reason.c_str());
        return false;
    }

    TempFolder folder;
    ServerProcess server;
    // One client address posts them all: no rate limit for the measurement.
    if (!server.Start({"--data", folder.Path(), "--listen", "127.0.0.1:0", "--rate-limit", "off"})) {
        std::fprintf(stderr, "server_bench: the server did not start:\n%s", server.Stderr().c_str());
        return false;
    }

    std::atomic<int> next(0);
    std::atomic<int> failures(0);
    std::mutex mutex;
    std::vector<double> latencies;
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> clients;
    for (int c = 0; c < run.clients; ++c) {
        clients.emplace_back([&]() {
            httplib::Client client("127.0.0.1", server.Port());
            client.set_keep_alive(true);
            client.set_read_timeout(120, 0);
            client.set_write_timeout(120, 0);
            client.set_default_headers({{"User-Agent", "Brevora Bug Reporter"}});
            while (next++ < run.requests) {
                const auto sent = std::chrono::steady_clock::now();
                httplib::Result result =
                    client.Post("/bugreport/report/", body, "application/x-www-form-urlencoded");
                const double ms =
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent).count();
                if (!result || result->status != 201) {
                    ++failures;
                    continue;
                }
                std::lock_guard<std::mutex> lock(mutex);
                latencies.push_back(ms);
            }
        });
    }
    for (std::thread& t : clients)
        t.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    server.Stop(SIGTERM);

    std::sort(latencies.begin(), latencies.end());
    const double mib = static_cast<double>(body.size()) / (1024.0 * 1024.0);
    std::printf("log %5.1f MiB (%5.2f MiB sent)  body %5.2f MiB  %3d uploads  %d clients  %6.2f s  %7.2f reports/s  %6.1f MiB/s  "
                "p50 %7.1f ms  p99 %7.1f ms  max %7.1f ms  failed %d  database %.0f MiB\n",
                static_cast<double>(run.logBytes) / (1024.0 * 1024.0),
                static_cast<double>(sent.attachmentLog.content.size()) / (1024.0 * 1024.0), mib, run.requests, run.clients, seconds,
                static_cast<double>(latencies.size()) / seconds, mib * static_cast<double>(latencies.size()) / seconds,
                Percentile(latencies, 0.50), Percentile(latencies, 0.99),
                latencies.empty() ? 0.0 : latencies.back(), failures.load(),
                static_cast<double>(FileSize(folder.Path() + "/reports.db") +
                                    FileSize(folder.Path() + "/reports.db-wal")) / (1024.0 * 1024.0));
    std::fflush(stdout);
    return failures == 0;
}

bool ParseCount(const char* text, int& value)
{
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || parsed < 1 || parsed > 100000)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    signal(SIGPIPE, SIG_IGN);
    int requests = 0;  // 0: per log size, below
    int clients = 4;
    std::vector<int> logMiB;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        int value = 0;
        if (i + 1 < argc && ParseCount(argv[i + 1], value) &&
            (arg == "--requests" || arg == "--clients" || arg == "--log-mib")) {
            ++i;
            if (arg == "--requests")
                requests = value;
            else if (arg == "--clients")
                clients = value;
            else
                logMiB.push_back(value);
        } else {
            std::fprintf(stderr, "usage: server_bench [--requests N] [--clients C] [--log-mib M]...\n");
            return 2;
        }
    }
    if (logMiB.empty())
        logMiB = {1, 15};

    std::printf("server %s\n", GetServerPath());
    bool ok = true;
    for (int mib : logMiB) {
        BenchRun run;
        run.logBytes = static_cast<size_t>(mib) * 1024 * 1024;
        run.clients = clients;
        run.requests = requests > 0 ? requests : (mib <= 2 ? 200 : 40);
        ok = RunBench(run) && ok;
    }
    return ok ? 0 : 1;
}
