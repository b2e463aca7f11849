// Upload throughput of brevora-report-server: N uploads of one realistic
// report from several concurrent clients, against a fresh server and data
// folder, for each log size and each store: SQLite with an earlier server
// (--before PATH) and with this one, PostgreSQL with one server and with two
// sharing the database (the clients split between them). Also the disk
// each stored report takes, as a multiple of its body. Before that, the
// upload path's stages timed in this process, one report at a time: parsing
// and decoding, the check that the fields rebuild the body, and packing
// (that check and zstd). Prints figures; asserts nothing.
//
//   server_bench [--requests N] [--clients C] [--log-mib M]... [--before PATH] [--rounds R] [--no-postgres]
//                [--crash DUMP]  crash reports carrying DUMP (and the log) instead
#include <httplib.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <thread>
#include <vector>

#include "report_format/section_text.h"
#include "server/report/report_body.h"
#include "server/report/report_parser.h"
#include "server/store/postgres_handles.h"
#include "server/store/report_columns.h"
#include "tests/server/report_factory.h"
#include "tests/server/server_process.h"
#include "tests/server/temp_folder.h"
#include "tests/server/test_postgres.h"

namespace {

struct BenchRun
{
    const char* label = "";
    std::string serverPath;   // the executable; GetServerPath() when empty
    std::string databaseUrl;  // PostgreSQL; empty for SQLite
    int servers = 1;
    size_t logBytes = 0;
    int requests = 0;
    int clients = 0;
    std::string crashDump;  // not empty: crash reports carrying this dump instead
};

// Bytes on disk of the report tables of a PostgreSQL database, their TOAST
// and indexes included; -1 when it cannot be read.
long long MeasurePostgres(const std::string& url)
{
    PostgresConnection connection(PQconnectdb(url.c_str()));
    PostgresResult result(PQexec(connection.get(),
                                 "SELECT coalesce(sum(pg_total_relation_size(c.oid)), 0) FROM pg_class c"
                                 " WHERE c.relname IN ('reports', 'crash_reports')"));
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK)
        return -1;
    return std::atoll(PQgetvalue(result.get(), 0, 0));
}

double Percentile(std::vector<double> sorted, double fraction)
{
    if (sorted.empty())
        return 0;
    const size_t index = static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(index, sorted.size() - 1)];
}

// CPU seconds (user and system) that process pid has used so far; 0 when
// they cannot be read.
double ReadProcessCpuSeconds(pid_t pid)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr)
        return 0;
    char line[1024] = "";
    const bool read = std::fgets(line, sizeof line, file) != nullptr;
    std::fclose(file);
    // After the command's closing parenthesis: state is field 3, utime 14, stime 15.
    const char* rest = read ? std::strrchr(line, ')') : nullptr;
    unsigned long long user = 0;
    unsigned long long system = 0;
    if (rest == nullptr ||
        std::sscanf(rest + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &user, &system) != 2)
        return 0;
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double ReadOwnCpuSeconds()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long long FileSize(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : 0;
}

// The benchmark's report: short texts, a 40 KiB diagnostic report and the log.
std::string MakeBenchBody(size_t logBytes)
{
    std::mt19937 rng(42);
    ReportInput input = MakeRealisticReport(rng, logBytes);
    AppendComponentLine(input.systemInfo, "Video library", 4096);  // as the reporter sends record 5 now
    return EncodeReport(input);
}

// Milliseconds of one call of stage, the median of many.
template <typename Stage>
double TimeStage(int repeats, Stage stage)
{
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        const auto start = std::chrono::steady_clock::now();
        stage();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return Percentile(times, 0.5);
}

bool TimeStages(size_t logBytes)
{
    const std::string body = MakeBenchBody(logBytes);
    Report report;
    std::string reason;
    const int repeats = 60;
    const double parse = TimeStage(repeats, [&]() { ParseReportBody(body.data(), body.size(), report, reason); });
    if (!reason.empty()) {
        std::fprintf(stderr, "server_bench: the report does not parse: %s\n", reason.c_str());
        return false;
    }
    bool rebuilt = false;
    const double check = TimeStage(repeats, [&]() { rebuilt = IsReportBodyRebuilt(report, body); });
    PackedRow packed;
    const double pack = TimeStage(repeats, [&]() { PackReport(ReportOrigin(), report, body, packed); });
    size_t packedSize = 0;
    for (const std::string& value : packed.values)
        packedSize += value.size();
    std::printf("stages, one report in this process (median of %d), body %.2f MiB: parse %.2f ms, rebuild check "
                "%.3f ms%s, pack (check and zstd) %.2f ms, packed %.1f KiB = %.3f x body\n",
                repeats, static_cast<double>(body.size()) / (1024.0 * 1024.0), parse, check,
                rebuilt ? "" : " (NOT REBUILT)", pack, static_cast<double>(packedSize) / 1024.0,
                static_cast<double>(packedSize) / static_cast<double>(body.size()));
    std::fflush(stdout);
    return true;
}

// Prints the run's line; rate gets its reports a second.
bool RunBench(const BenchRun& run, double& rate)
{
    const bool crash = !run.crashDump.empty();
    std::mt19937 rng(42);
    const std::string body = crash ? EncodeCrashReport("it crashed", run.crashDump, MakeLogText(rng, run.logBytes),
                                                       "[video]\nrenderer=gl\n")
                                   : MakeBenchBody(run.logBytes);
    // The reporter cuts a log that does not fit its 20 MiB body to its newest part.
    Report sent;
    CrashReport crashSent;
    std::string reason;
    if (!(crash ? ParseCrashBody(body.data(), body.size(), crashSent, reason)
                : ParseReportBody(body.data(), body.size(), sent, reason))) {
        std::fprintf(stderr, "server_bench: the report does not parse: %s\n", reason.c_str());
        return false;
    }

    // The last run's writes and its removed folder reach the disk before
    // this run starts, not in the middle of its commits.
    sync();
    TempFolder folder;
    std::vector<std::unique_ptr<ServerProcess>> servers;
    for (int i = 0; i < run.servers; ++i) {
        servers.emplace_back(new ServerProcess);
        if (!run.serverPath.empty())
            servers.back()->SetPath(run.serverPath);
        // One client address posts them all: no rate limit for the measurement.
        std::vector<std::string> args = {"--data", folder.Path() + "/" + std::to_string(i), "--listen", "127.0.0.1:0",
                                         "--rate-limit", "off"};
        // This server as it runs by default, indexing each report for the
        // maintainers' interface (which the earlier one did not have; the
        // earlier one of a crash comparison, from before crash processing,
        // has it too).
        if (run.serverPath.empty() || !run.crashDump.empty()) {
            args.push_back("--admin-listen");
            args.push_back("127.0.0.1:0");
        }
        if (!run.databaseUrl.empty()) {
            args.push_back("--database");
            args.push_back(run.databaseUrl);
        }
        if (!servers.back()->Start(args)) {
            std::fprintf(stderr, "server_bench: the server did not start:\n%s", servers.back()->Stderr().c_str());
            return false;
        }
    }

    std::atomic<int> next(0);
    std::atomic<int> failures(0);
    std::mutex mutex;
    std::vector<double> latencies;
    double serverCpu = 0;
    for (std::unique_ptr<ServerProcess>& server : servers)
        serverCpu -= ReadProcessCpuSeconds(server->Pid());
    const double clientCpu = ReadOwnCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> clients;
    for (int c = 0; c < run.clients; ++c) {
        clients.emplace_back([&, c]() {
            httplib::Client client("127.0.0.1", servers[static_cast<size_t>(c % run.servers)]->Port());
            client.set_keep_alive(true);
            client.set_read_timeout(120, 0);
            client.set_write_timeout(120, 0);
            client.set_default_headers({{"User-Agent", "Brevora Bug Reporter"}});
            while (next++ < run.requests) {
                const auto sent = std::chrono::steady_clock::now();
                // Sent from the one prebuilt body: Post(path, body, ...) would
                // copy it into each request first, costing the CPUs the
                // server needs.
                httplib::Result result = client.Post(
                    crash ? "/bugreport/crash/" : "/bugreport/report/", body.size(),
                    [&body](size_t offset, size_t length, httplib::DataSink& sink) {
                        return sink.write(body.data() + offset, length);
                    },
                    "application/x-www-form-urlencoded");
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
    // What each report cost the CPUs, which the load of others hardly changes.
    const double clientsCpu = ReadOwnCpuSeconds() - clientCpu;
    for (std::unique_ptr<ServerProcess>& server : servers)
        serverCpu += ReadProcessCpuSeconds(server->Pid());
    for (std::unique_ptr<ServerProcess>& server : servers)
        server->Stop(SIGTERM);  // SQLite folds its write-ahead log into the file on the way out
    const long long disk = run.databaseUrl.empty()
                               ? FileSize(folder.Path() + "/0/reports.db") + FileSize(folder.Path() + "/0/reports.db-wal")
                               : MeasurePostgres(run.databaseUrl);

    std::sort(latencies.begin(), latencies.end());
    const double mib = static_cast<double>(body.size()) / (1024.0 * 1024.0);
    std::printf("%-22s log %4.1f MiB  body %5.2f MiB  %3d uploads  %d clients  %6.2f s  %7.2f reports/s  "
                "p50 %7.1f ms  p99 %7.1f ms  failed %d  disk %7.1f KiB a report = %.3f x body  "
                "CPU a report: server %.2f ms, clients %.2f ms\n",
                run.label, static_cast<double>(sent.attachmentLog.content.size()) / (1024.0 * 1024.0), mib,
                run.requests, run.clients, seconds, static_cast<double>(latencies.size()) / seconds,
                Percentile(latencies, 0.50), Percentile(latencies, 0.99), failures.load(),
                static_cast<double>(disk) / 1024.0 / static_cast<double>(std::max<size_t>(latencies.size(), 1)),
                static_cast<double>(disk) / static_cast<double>(std::max<size_t>(latencies.size(), 1)) /
                    static_cast<double>(body.size()),
                serverCpu * 1000.0 / run.requests, clientsCpu * 1000.0 / run.requests);
    std::fflush(stdout);
    rate = static_cast<double>(latencies.size()) / seconds;
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
    int rounds = 1;
    std::vector<int> logMiB;
    std::string before;
    std::string crashDump;
    bool postgres = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        int value = 0;
        if (arg == "--before" && i + 1 < argc) {
            before = argv[++i];
        } else if (arg == "--crash" && i + 1 < argc) {
            std::ifstream in(argv[++i], std::ios::binary);
            crashDump.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (crashDump.empty()) {
                std::fprintf(stderr, "server_bench: cannot read the dump %s\n", argv[i]);
                return 2;
            }
        } else if (arg == "--no-postgres") {
            postgres = false;
        } else if (i + 1 < argc && ParseCount(argv[i + 1], value) &&
                   (arg == "--requests" || arg == "--clients" || arg == "--log-mib" || arg == "--rounds")) {
            ++i;
            if (arg == "--requests")
                requests = value;
            else if (arg == "--rounds")
                rounds = value;
            else if (arg == "--clients")
                clients = value;
            else
                logMiB.push_back(value);
        } else {
            std::fprintf(stderr, "usage: server_bench [--requests N] [--clients C] [--log-mib M]... [--before PATH]"
                                 " [--rounds R] [--no-postgres] [--crash DUMP]\n");
            return 2;
        }
    }
    if (logMiB.empty())
        logMiB = {1};

    std::printf("server %s%s%s\n", GetServerPath(), before.empty() ? "" : ", before: ", before.c_str());
    UseDurableTestCluster();
    bool ok = true;
    for (int mib : logMiB) {
        BenchRun run;
        run.logBytes = static_cast<size_t>(mib) * 1024 * 1024;
        run.clients = clients;
        run.requests = requests > 0 ? requests : (mib <= 2 ? 200 : 40);
        run.crashDump = crashDump;
        ok = (!crashDump.empty() || TimeStages(run.logBytes)) && ok;
        // The earlier server and this one in turns: the machine's speed
        // drifts from one minute to the next, so the ratio is taken per
        // round and the median of the rounds given.
        std::vector<double> ratios;
        for (int round = 0; round < rounds; ++round) {
            double earlier = 0;
            double now = 0;
            if (!before.empty()) {
                BenchRun old = run;
                old.label = "SQLite, before";
                old.serverPath = before;
                ok = RunBench(old, earlier) && ok;
            }
            run.label = "SQLite";
            ok = RunBench(run, now) && ok;
            if (earlier > 0)
                ratios.push_back(now / earlier);
        }
        if (!ratios.empty()) {
            std::printf("SQLite against before, round by round:");
            for (double ratio : ratios)
                std::printf(" %.2f", ratio);
            std::sort(ratios.begin(), ratios.end());
            std::printf("; median %.2f times\n", ratios[ratios.size() / 2]);
        }
        for (int servers = 1; postgres && servers <= 2; ++servers) {
            BenchRun shared = run;
            shared.label = servers == 1 ? "PostgreSQL, 1 server" : "PostgreSQL, 2 servers";
            shared.servers = servers;
            std::string error;
            shared.databaseUrl = MakeTestDatabase(error);
            if (shared.databaseUrl.empty()) {
                std::fprintf(stderr, "server_bench: %s\n", error.c_str());
                return 1;
            }
            double rate = 0;
            ok = RunBench(shared, rate) && ok;
        }
    }
    return ok ? 0 : 1;
}
