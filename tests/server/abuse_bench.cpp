// A legitimate client's upload latency with no attack, then while one
// address holds 1,000 slow connections open (reopening each one the server
// closes) and another floods junk bodies, against one server with its default
// limits. Loopback only; bounded in connections and time. Prints figures,
// with the CPU time the server, the attacking threads and the legitimate
// client took while the uploads were timed (they share the machine's CPUs);
// asserts nothing.
//
//   abuse_bench [--uploads N] [--slow N] [--flooders N] [--server PATH]
//
// --server runs another build of the server (an earlier commit's, to
// compare).
#include <signal.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "server/net/connection_guard.h"
#include "tests/server/raw_http.h"
#include "tests/server/report_factory.h"
#include "tests/server/server_process.h"
#include "tests/server/temp_folder.h"

namespace {

typedef std::chrono::steady_clock Clock;

std::string MakeUploadRequest(const std::string& body)
{
    return "POST /bugreport/report/ HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: Brevora Bug Reporter\r\n"
           "Content-Type: application/x-www-form-urlencoded\r\nConnection: close\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

double Percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t index = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

// User plus system CPU seconds of a process so far, from /proc/PID/stat.
double ReadProcessCpuSeconds(const std::string& pid)
{
    std::ifstream file("/proc/" + pid + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const size_t nameEnd = text.rfind(')');
    if (nameEnd == std::string::npos)
        return 0;
    // After the name: state (field 3) ... utime (14), stime (15).
    std::istringstream fields(text.substr(nameEnd + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i >= 14)
            ticks += std::atof(field.c_str());
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double ReadThreadCpuSeconds()
{
    timespec now = {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::string ReadLoadAverage()
{
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// CPU seconds while one phase's uploads were timed.
struct PhaseCpu
{
    double wall = 0;
    double server = 0;
    double bench = 0;   // this process: the client, and the attack if any
    double client = 0;  // the thread that timed the uploads
};

void PrintPhaseCpu(const char* phase, const PhaseCpu& cpu)
{
    std::printf("CPU %s (%.1f s): server %.1f s (%.0f%% of one CPU), attack %.1f s (%.0f%%), legitimate client "
                "%.1f s (%.0f%%)\n",
                phase, cpu.wall, cpu.server, 100 * cpu.server / cpu.wall, cpu.bench - cpu.client,
                100 * (cpu.bench - cpu.client) / cpu.wall, cpu.client, 100 * cpu.client / cpu.wall);
}

// Sequential uploads, each from an address of its own (127.0.N.i), so the
// per-address upload rate does not apply across them.
std::vector<double> MeasureUploads(int port, const std::string& body, int count, int subnet, int& failed,
                                   pid_t serverPid, PhaseCpu& cpu)
{
    const std::string server = std::to_string(serverPid);
    const auto start = Clock::now();
    cpu.server = -ReadProcessCpuSeconds(server);
    cpu.bench = -ReadProcessCpuSeconds("self");
    cpu.client = -ReadThreadCpuSeconds();
    std::vector<double> latencies;
    const std::string request = MakeUploadRequest(body);
    for (int i = 0; i < count; ++i) {
        const std::string source = "127.0." + std::to_string(subnet) + "." + std::to_string(2 + i % 250);
        const auto start = Clock::now();
        const RawResponse response = ExchangeRawFrom(source.c_str(), port, request, 60000);
        latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        failed += response.status == 201 ? 0 : 1;
    }
    cpu.client += ReadThreadCpuSeconds();
    cpu.bench += ReadProcessCpuSeconds("self");
    cpu.server += ReadProcessCpuSeconds(server);
    cpu.wall = std::chrono::duration<double>(Clock::now() - start).count();
    return latencies;
}

struct Attack
{
    std::atomic<bool> stop{false};
    std::atomic<long> opened{0};
    std::atomic<long> closedByServer{0};
    std::atomic<long> floodRequests{0};
    std::mutex mutex;
    std::map<int, long> floodAnswers;  // status -> count
};

// Keeps slowCount connections from 127.0.0.1 open, half trickling a head,
// half a body, one byte per connection every 200 ms.
void HoldSlowConnections(Attack& attack, int port, int slowCount)
{
    std::vector<int> fds(static_cast<size_t>(slowCount), -1);
    static const char kHead[] = "POST /bugreport/report/ HTTP/1.1\r\nHost: a";
    static const char kBodyStart[] = "POST /bugreport/report/ HTTP/1.1\r\nHost: a\r\nContent-Length: 1048576\r\n\r\ne";
    while (!attack.stop) {
        for (size_t i = 0; i < fds.size() && !attack.stop; ++i) {
            if (fds[i] < 0) {
                fds[i] = ConnectFrom("127.0.0.1", port);
                if (fds[i] < 0)
                    continue;
                ++attack.opened;
                const char* start = i % 2 == 0 ? kHead : kBodyStart;
                send(fds[i], start, std::strlen(start), MSG_NOSIGNAL);
                continue;
            }
            char buffer[256];
            const ssize_t got = recv(fds[i], buffer, sizeof buffer, MSG_DONTWAIT);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK) ||
                send(fds[i], "A", 1, MSG_NOSIGNAL) < 0) {
                ++attack.closedByServer;
                close(fds[i]);
                fds[i] = -1;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    for (int fd : fds) {
        if (fd >= 0)
            close(fd);
    }
}

// Posts 64 KiB of junk from 127.0.0.3 as fast as the server answers: a
// second attacking address, whose bodies are read (the slow connections
// fill 127.0.0.1's connection cap).
void FloodJunk(Attack& attack, int port, unsigned seed)
{
    std::mt19937 rng(seed);
    const std::string junk = MakeRandomBytes(rng, 64 * 1024, true);
    const std::string request = MakeUploadRequest(junk);
    while (!attack.stop) {
        const RawResponse response = ExchangeRawFrom("127.0.0.3", port, request, 10000);
        ++attack.floodRequests;
        std::lock_guard<std::mutex> lock(attack.mutex);
        ++attack.floodAnswers[response.received ? response.status : 0];
    }
}

}  // namespace

int main(int argc, char** argv)
{
    int uploads = 500;
    int slowCount = 1000;
    int flooders = 2;
    std::string serverPath;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--uploads") == 0)
            uploads = std::max(1, std::min(5000, std::atoi(argv[i + 1])));
        else if (std::strcmp(argv[i], "--slow") == 0)
            slowCount = std::max(0, std::min(5000, std::atoi(argv[i + 1])));
        else if (std::strcmp(argv[i], "--flooders") == 0)
            flooders = std::max(0, std::min(16, std::atoi(argv[i + 1])));
        else if (std::strcmp(argv[i], "--server") == 0)
            serverPath = argv[i + 1];
    }
    signal(SIGPIPE, SIG_IGN);
    std::printf("open files allowed: %lu\n", RaiseOpenFileLimit());

    TempFolder folder;
    ServerProcess server;
    if (!serverPath.empty())
        server.SetPath(serverPath);
    // Default limits; the log goes to a pipe the harness reads.
    if (!server.Start({"--data", folder.Path() + "/data", "--listen", "127.0.0.1:0"})) {
        std::fprintf(stderr, "abuse_bench: the server did not start:\n%s\n", server.Stderr().c_str());
        return 1;
    }
    std::mt19937 rng(42);
    const std::string body = EncodeReport(MakeRealisticReport(rng, 1024 * 1024));
    std::printf("upload body: %.2f MiB; %d uploads per phase, one address each\n",
                static_cast<double>(body.size()) / 1048576.0, uploads);

    int failedQuiet = 0;
    PhaseCpu quietCpu;
    const std::vector<double> quiet = MeasureUploads(server.Port(), body, uploads, 1, failedQuiet, server.Pid(),
                                                     quietCpu);

    Attack attack;
    std::thread holder([&] { HoldSlowConnections(attack, server.Port(), slowCount); });
    std::vector<std::thread> flood;
    for (int i = 0; i < flooders; ++i)
        flood.emplace_back([&attack, &server, i] { FloodJunk(attack, server.Port(), static_cast<unsigned>(i)); });
    std::this_thread::sleep_for(std::chrono::seconds(3));  // let the attack fill what it can
    int failedLoaded = 0;
    PhaseCpu loadedCpu;
    const long floodBefore = attack.floodRequests;
    const long openedBefore = attack.opened;
    const std::vector<double> loaded = MeasureUploads(server.Port(), body, uploads, 2, failedLoaded, server.Pid(),
                                                      loadedCpu);
    const long floodTimed = attack.floodRequests - floodBefore;
    const long openedTimed = attack.opened - openedBefore;
    attack.stop = true;
    holder.join();
    for (std::thread& thread : flood)
        thread.join();
    server.Stop(SIGTERM);

    const double quietMedian = Percentile(quiet, 0.5);
    const double quietP99 = Percentile(quiet, 0.99);
    const double loadedMedian = Percentile(loaded, 0.5);
    const double loadedP99 = Percentile(loaded, 0.99);
    std::printf("no attack:    median %.1f ms, p99 %.1f ms, %d failed (%.1f s)\n", quietMedian, quietP99,
                failedQuiet, quietCpu.wall);
    std::printf("under attack: median %.1f ms, p99 %.1f ms, %d failed (%.1f s)\n", loadedMedian, loadedP99,
                failedLoaded, loadedCpu.wall);
    std::vector<double> slowest = loaded;
    std::sort(slowest.rbegin(), slowest.rend());
    slowest.resize(std::min<size_t>(slowest.size(), 8));
    std::printf("slowest under attack (ms):");
    for (double latency : slowest)
        std::printf(" %.0f", latency);
    std::printf("\n");
    std::printf("ratio: median %.2fx, p99 %.2fx\n", loadedMedian / quietMedian, loadedP99 / quietP99);
    std::printf("attack: %d slow connections kept open, %ld opened, %ld closed by the server; junk answers:",
                slowCount, attack.opened.load(), attack.closedByServer.load());
    for (const auto& entry : attack.floodAnswers)
        std::printf(" %d x%ld", entry.first, entry.second);
    std::printf("\n");
    const std::string log = server.Stderr();
    size_t lines = 0;
    for (char c : log)
        lines += c == '\n' ? 1 : 0;
    std::printf("server log: %zu lines, %zu bytes\n", lines, log.size());
    // The server's own time for each stored upload (from its head read to
    // its answer), to tell time spent inside the request from time spent
    // before it (accept queue, a worker to run on).
    std::vector<double> serverTimes[2];
    for (size_t at = log.find(" 201 in="); at != std::string::npos; at = log.find(" 201 in=", at + 1)) {
        const size_t lineStart = log.rfind('\n', at) + 1;
        const size_t lineEnd = log.find('\n', at);
        const std::string line = log.substr(lineStart, lineEnd - lineStart);
        const size_t ms = line.rfind("ms");
        const size_t number = line.rfind(' ', ms);
        const bool underAttack = line.find(" 127.0.2.") != std::string::npos;
        if (ms != std::string::npos && number != std::string::npos)
            serverTimes[underAttack ? 1 : 0].push_back(std::atof(line.c_str() + number + 1));
    }
    std::printf("inside the server: without attack median %.1f ms, p99 %.1f ms; under attack median %.1f ms, p99 "
                "%.1f ms, slowest %.1f ms\n",
                Percentile(serverTimes[0], 0.5), Percentile(serverTimes[0], 0.99), Percentile(serverTimes[1], 0.5),
                Percentile(serverTimes[1], 0.99), Percentile(serverTimes[1], 1.0));
    PrintPhaseCpu("without attack", quietCpu);
    PrintPhaseCpu("under attack", loadedCpu);
    // The server's CPU beyond the same uploads' without attack, per attacking
    // request or connection: what the attack costs it, whatever the rate the
    // attacking threads manage on this machine.
    const double extra = loadedCpu.server - quietCpu.server;
    std::printf("while timed: %ld junk requests (%.0f a second), %ld slow connections opened (%.0f a second); "
                "server CPU beyond the unloaded phase: %.1f s, %.0f us per junk request or connection\n",
                floodTimed, floodTimed / loadedCpu.wall, openedTimed, openedTimed / loadedCpu.wall, extra,
                floodTimed + openedTimed > 0 ? 1e6 * extra / static_cast<double>(floodTimed + openedTimed) : 0.0);
    std::printf("load at the end: %s\n", ReadLoadAverage().c_str());
    return 0;
}
