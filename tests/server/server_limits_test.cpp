// What one client may take: slow connections cut off and capped per
// address, per-address rates, the free-space floor, the limited refusal log.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "server/api/report_routes.h"
#include "server/net/connection_guard.h"
#include "server/net/disk_floor.h"
#include "server/net/rate_limiter.h"
#include "server/net/refusal_log.h"
#include "server/store/report_store.h"
#include "server/store/sqlite_handles.h"
#include "server/store/store_factory.h"
#include "tests/server/in_process_server.h"
#include "tests/server/raw_http.h"
#include "tests/server/report_factory.h"
#include "tests/server/temp_folder.h"
#include "tests/server/test_certificates.h"

namespace {

typedef std::chrono::steady_clock Clock;

const char kOther[] = "127.0.0.2";  // another client, as the server sees it

std::string MakeUploadRequest(const std::string& body)
{
    return "POST /bugreport/report/ HTTP/1.1\r\nHost: 127.0.0.1\r\n"
           "Content-Type: application/x-www-form-urlencoded\r\nConnection: close\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

const char kQueryRequest[] = "GET /bugreport/components/ HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";

std::string ReadFile(FILE* file)
{
    std::fflush(file);
    std::string text;
    std::rewind(file);
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, got);
    return text;
}

size_t CountOccurrences(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// The real server with its guard, in process, with limits small enough for
// a test that takes seconds.
class LimitsServerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        signal(SIGPIPE, SIG_IGN);
        m_limits.headerSeconds = 2;
        m_limits.bodyGraceSeconds = 1;
        m_limits.bodyWindowSeconds = 1;
        m_limits.bodyMinRate = 8 * 1024;
        m_limits.connectionsPerAddress = 16;
        m_limits.maxConnections = 64;
        m_limits.rateRefusalDelaySeconds = 1;
        m_limits.diskFloorOff = true;
        m_log = std::tmpfile();
        ASSERT_NE(nullptr, m_log);
        m_dataDir = m_folder.Path();
    }

    void TearDown() override
    {
        StopServer();
        if (m_log != nullptr)
            std::fclose(m_log);
    }

    void StartServer()
    {
        std::ofstream(m_dataDir + "/components.txt", std::ios::binary) << "Player\nLibrary\n";
        m_service.reset(new ReportService);
        m_service->dataDir = m_dataDir;
        m_service->maxBody = 32u << 20;
        m_service->log = m_log;
        ApplyServeLimits(*m_service, m_limits);
        std::string error;
        m_service->store = OpenReportStore(m_dataDir, "", true, error);
        ASSERT_TRUE(m_service->store) << error;

        m_server.reset(new GuardedServer(m_limits, m_service->refusals.get()));
        if (!m_tlsFolder.empty()) {
            ASSERT_TRUE(m_server->UseTls(m_tlsFolder + "/server.pem", m_tlsFolder + "/server.key", error)) << error;
        }
        InstallReportRoutes(*m_server, *m_service);
        StartListening(*m_server, m_thread, m_port);
    }

    void StopServer()
    {
        if (m_server)
            StopListening(*m_server, m_thread);
        m_server.reset();
        m_service.reset();
    }

    std::string MakeBody(size_t logSize)
    {
        std::mt19937 rng(static_cast<unsigned>(logSize));
        return EncodeReport(MakeRealisticReport(rng, logSize));
    }

    std::string CheckIntegrity()
    {
        sqlite3* opened = nullptr;
        if (sqlite3_open_v2((m_dataDir + "/" + kDatabaseFileName).c_str(), &opened, SQLITE_OPEN_READWRITE, nullptr) !=
            SQLITE_OK) {
            sqlite3_close(opened);
            return "cannot open the database";
        }
        SqliteDatabase db(opened);
        sqlite3_stmt* raw = nullptr;
        sqlite3_prepare_v2(db.get(), "PRAGMA integrity_check", -1, &raw, nullptr);
        SqliteStatement statement(raw);
        if (sqlite3_step(raw) != SQLITE_ROW)
            return sqlite3_errmsg(db.get());
        return reinterpret_cast<const char*>(sqlite3_column_text(raw, 0));
    }

    size_t CountReports()
    {
        std::string error;
        std::unique_ptr<ReportStore> store = OpenReportStore(m_dataDir, "", false, error);
        std::vector<ReportSummary> reports;
        EXPECT_TRUE(store && store->ListReports(reports, error)) << error;
        return reports.size();
    }

    TempFolder m_folder;
    std::string m_dataDir;
    std::string m_tlsFolder;  // set: the server speaks HTTPS with its certificate
    ServeLimits m_limits;
    FILE* m_log = nullptr;
    std::unique_ptr<ReportService> m_service;
    std::unique_ptr<GuardedServer> m_server;
    std::thread m_thread;
    int m_port = 0;
};

struct SlowRow
{
    const char* name;
    bool tls;
    std::vector<std::string> logLines;  // each in the refusal log
};

void PrintTo(const SlowRow& row, std::ostream* os)
{
    *os << row.name;
}

class SlowClientsTest : public LimitsServerTest, public ::testing::WithParamInterface<SlowRow> {};

// 300 connections from one address: a third trickling their heads, a third
// their bodies far below the minimum rate, one byte per socket every
// 100 ms, and a third sending nothing at all (over TLS: not even the
// handshake).
TEST_P(SlowClientsTest, NeitherHoldTheServerNorStayOpen)
{
    const SlowRow& row = GetParam();
    std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> tls(nullptr, SSL_CTX_free);
    if (row.tls) {
        m_tlsFolder = MakeTestCertificates(m_folder);
        ASSERT_FALSE(m_tlsFolder.empty());
        tls.reset(MakeTlsClientContext());
        ASSERT_TRUE(tls);
    }
    StartServer();
    const int kSlow = 300;
    struct Slow
    {
        std::unique_ptr<RawConnection> connection;
        bool silent;
        Clock::time_point opened;
        Clock::time_point closed;
        bool isClosed;
    };
    std::vector<Slow> slow;
    int refused = 0;
    for (int i = 0; i < kSlow; ++i) {
        const bool silent = i % 3 == 2;
        std::unique_ptr<RawConnection> connection(new RawConnection);
        const auto opened = Clock::now();
        const bool open = connection->Open("127.0.0.1", m_port, silent ? nullptr : tls.get(), 2000);
        // Over TLS the server closes a connection over the cap before the
        // handshake: that one never opens.
        if (!open)
            ++refused;
        ASSERT_TRUE(open || row.tls) << "connection " << i;
        const std::string start = i % 3 == 0 ? std::string("POST /bugreport/report/ HTTP/1.1\r\nHost: a")
                                             : "POST /bugreport/report/ HTTP/1.1\r\nHost: a\r\n"
                                               "Content-Length: 1048576\r\n\r\nemail ";
        if (open && !silent)
            connection->Send(start);
        slow.push_back(Slow{std::move(connection), silent, opened, open ? Clock::time_point() : Clock::now(), !open});
    }
    EXPECT_LE(refused, kSlow - m_limits.connectionsPerAddress);

    std::atomic<bool> stop(false);
    std::thread trickler([&] {
        const auto end = Clock::now() + std::chrono::seconds(20);
        while (!stop && Clock::now() < end) {
            for (Slow& s : slow) {
                if (s.isClosed)
                    continue;
                std::string answer;
                const bool ended = s.connection->Receive(answer, 0) == 0 || (!s.silent && !s.connection->Send("A"));
                if (ended) {
                    s.isClosed = true;
                    s.closed = Clock::now();
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });

    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_LE(m_server->CountConnections("127.0.0.1"), m_limits.connectionsPerAddress);

    // Another client is served during the attack (the exchange's own
    // timeout is the bound).
    const RawResponse query = ExchangeRawFrom(kOther, m_port, kQueryRequest, 5000, tls.get());
    EXPECT_TRUE(query.received);
    EXPECT_EQ(200, query.status);
    EXPECT_EQ("Player\nLibrary\n", query.body);
    const RawResponse upload =
        ExchangeRawFrom(kOther, m_port, MakeUploadRequest(MakeBody(100 * 1024)), 5000, tls.get());
    EXPECT_TRUE(upload.received);
    EXPECT_EQ(201, upload.status);

    // Every slow connection is closed by its deadline: the head's, or the
    // grace period and window of the body, with a generous margin.
    const auto bound = std::chrono::seconds(m_limits.headerSeconds + m_limits.bodyGraceSeconds +
                                            m_limits.bodyWindowSeconds + 3);
    const auto waitEnd = Clock::now() + bound + std::chrono::seconds(2);
    auto countOpen = [&] {
        int open = 0;
        for (const Slow& s : slow)
            open += s.isClosed ? 0 : 1;
        return open;
    };
    while (countOpen() > 0 && Clock::now() < waitEnd)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop = true;
    trickler.join();
    EXPECT_EQ(0, countOpen());
    int late = 0;
    for (const Slow& s : slow)
        late += s.isClosed && s.closed - s.opened > bound ? 1 : 0;
    EXPECT_EQ(0, late);

    const std::string log = ReadFile(m_log);
    for (const std::string& line : row.logLines)
        EXPECT_NE(std::string::npos, log.find(line)) << line << "\n" << log;
    EXPECT_EQ(1u, CountReports());
}

// An upload and two queries sent at once on one kept-alive connection: the
// upload's body is read to its last byte and no further, and the queries,
// already read (by the stream, or by TLS) when the one before is answered,
// are answered without new bytes arriving.
TEST_P(SlowClientsTest, AnswersPipelinedRequests)
{
    std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> tls(nullptr, SSL_CTX_free);
    if (GetParam().tls) {
        m_tlsFolder = MakeTestCertificates(m_folder);
        ASSERT_FALSE(m_tlsFolder.empty());
        tls.reset(MakeTlsClientContext());
    }
    StartServer();
    RawConnection connection;
    ASSERT_TRUE(connection.Open(kOther, m_port, tls.get()));
    const std::string body = MakeBody(100 * 1024);
    ASSERT_TRUE(connection.Send("POST /bugreport/report/ HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\n\r\n" + body +
                                "GET /bugreport/components/ HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" +
                                std::string(kQueryRequest)));
    std::string answers;
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < end && connection.Receive(answers, 100) != 0) {
    }
    EXPECT_EQ(1u, CountOccurrences(answers, "HTTP/1.1 201 Created\r\n")) << answers;
    EXPECT_EQ(2u, CountOccurrences(answers, "HTTP/1.1 200 OK\r\n")) << answers;
    EXPECT_EQ(2u, CountOccurrences(answers, "Player\nLibrary\n")) << answers;
}

INSTANTIATE_TEST_SUITE_P(Rows, SlowClientsTest,
    ::testing::Values(SlowRow{"Plain", false,
                              {"request head not complete within 2 seconds", "body slower than 8192 bytes a second",
                               "over 16 connections from one address"}},
                      SlowRow{"Tls", true,
                              {"TLS handshake not complete within 2 seconds",
                               "request head not complete within 2 seconds", "body slower than 8192 bytes a second",
                               "over 16 connections from one address"}}),
    [](const ::testing::TestParamInfo<SlowRow>& info) { return std::string(info.param.name); });

struct RateRow
{
    const char* name;
    const char* uploadRate;
    const char* queryRate;
    bool upload;  // the kind limited in this row; the other kind is not
    int allowed;
    int retryAfter;  // at least, then at most 1 more
};

void PrintTo(const RateRow& row, std::ostream* os)
{
    *os << row.name;
}

class RateLimitTest : public LimitsServerTest, public ::testing::WithParamInterface<RateRow> {};

TEST_P(RateLimitTest, RefusesOverTheRateWithRetryAfterAndOnlyThatAddress)
{
    const RateRow& row = GetParam();
    std::string error;
    ASSERT_TRUE(ParseRateLimit(row.uploadRate, m_limits.uploadRate, error)) << error;
    ASSERT_TRUE(ParseRateLimit(row.queryRate, m_limits.queryRate, error)) << error;
    StartServer();
    const std::string body = MakeBody(2000);
    const std::string limited = row.upload ? MakeUploadRequest(body) : kQueryRequest;
    const std::string unlimited = row.upload ? kQueryRequest : MakeUploadRequest(body);
    const int success = row.upload ? 201 : 200;

    for (int i = 0; i < row.allowed; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(success, ExchangeRawFrom("127.0.0.1", m_port, limited).status);
    }
    // The refusal's answer is held for the delay (1 s in this fixture).
    const auto refusedAt = Clock::now();
    RawResponse over = ExchangeRawFrom("127.0.0.1", m_port, limited);
    EXPECT_GE(Clock::now() - refusedAt, std::chrono::milliseconds(950));
    EXPECT_EQ(429, over.status);
    const int retryAfter = std::atoi(over.headers["retry-after"].c_str());
    EXPECT_GE(retryAfter, row.retryAfter);
    EXPECT_LE(retryAfter, row.retryAfter + 1);

    EXPECT_EQ(success, ExchangeRawFrom(kOther, m_port, limited).status);
    EXPECT_EQ(row.upload ? 200 : 201, ExchangeRawFrom("127.0.0.1", m_port, unlimited).status);
    EXPECT_EQ(static_cast<size_t>(row.upload ? row.allowed + 1 : 1), CountReports());
    EXPECT_NE(std::string::npos, ReadFile(m_log).find(" 429 ")) << "the refusal is logged";
}

INSTANTIATE_TEST_SUITE_P(Rows, RateLimitTest,
    ::testing::Values(RateRow{"UploadsPerMinute", "3/min,100/day", "60/min", true, 3, 19},
                      RateRow{"UploadsPerDay", "10/min,2/day", "60/min", true, 2, 43199},
                      RateRow{"QueriesPerMinute", "10/min", "5/min,1000/day", false, 5, 11}),
    [](const ::testing::TestParamInfo<RateRow>& info) { return std::string(info.param.name); });

// A data folder on a small file system of its own (tmpfs, which needs root
// as CI has). Without it, the floor is set above the real free space.
TEST_F(LimitsServerTest, RefusesUploadsAtTheDiskFloorAndRecovers)
{
    const std::string mountPoint = m_folder.Path() + "/small";
    ASSERT_EQ(0, mkdir(mountPoint.c_str(), 0755));
    const bool mounted = mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=16m") == 0;
    struct Unmount
    {
        std::string path;
        bool mounted;
        ~Unmount()
        {
            if (mounted)
                umount2(path.c_str(), MNT_DETACH);
        }
    } unmount{mountPoint, mounted};
    m_dataDir = mountPoint;

    const std::string filler = mountPoint + "/filler";
    m_limits.diskFloorOff = false;
    if (mounted) {
        std::ofstream(filler, std::ios::binary) << std::string(4u << 20, 'x');
        m_limits.minFreeBytes = 4u << 20;
    } else {
        uint64_t freeBytes = 0, totalBytes = 0;
        std::string error;
        ASSERT_TRUE(ReadFreeSpace(mountPoint, freeBytes, totalBytes, error)) << error;
        m_limits.minFreeBytes = freeBytes + (1ull << 30);
    }
    StartServer();

    const std::string body = MakeBody(200 * 1024);
    int stored = 0;
    int status = 0;
    for (int i = 0; i < 40 && (status = ExchangeRaw(m_port, MakeUploadRequest(body)).status) == 201; ++i) {
        ++stored;
        uint64_t freeBytes = 0, totalBytes = 0;
        std::string error;
        ASSERT_TRUE(ReadFreeSpace(mountPoint, freeBytes, totalBytes, error)) << error;
        EXPECT_GE(freeBytes, m_limits.minFreeBytes) << "upload " << i << " crossed the floor";
    }
    EXPECT_EQ(507, status);
    if (mounted) {
        EXPECT_GT(stored, 0);
    }
    EXPECT_EQ(507, ExchangeRaw(m_port, MakeUploadRequest(body)).status);

    EXPECT_EQ("ok", CheckIntegrity());
    EXPECT_EQ(static_cast<size_t>(stored), CountReports());
    const RawResponse query = ExchangeRaw(m_port, kQueryRequest);
    EXPECT_EQ(200, query.status);
    EXPECT_EQ("Player\nLibrary\n", query.body);

    // Space freed (or, without a file system of its own, the floor lowered).
    if (mounted) {
        ASSERT_EQ(0, unlink(filler.c_str()));
    } else {
        m_limits.minFreeBytes = 1;
        m_service->diskFloor.reset(new DiskFloor(m_dataDir, m_limits, m_service->refusals.get()));
    }
    EXPECT_EQ(201, ExchangeRaw(m_port, MakeUploadRequest(body)).status);
    EXPECT_EQ(static_cast<size_t>(stored + 1), CountReports());

    const std::string log = ReadFile(m_log);
    EXPECT_EQ(1u, CountOccurrences(log, "free space at the floor")) << log;
    if (mounted) {
        EXPECT_EQ(1u, CountOccurrences(log, "free space back above the floor")) << log;
    }
    EXPECT_EQ(2u, CountOccurrences(log, " 507 in=")) << log;
}

struct BucketStep
{
    double at;
    bool allowed;
    int retryAfter;  // when refused
};

struct BucketRow
{
    const char* name;
    const char* rate;
    std::vector<BucketStep> steps;
};

TEST(AddressRateLimiter, AllowsUpToEveryRuleAndSaysWhenToRetry)
{
    const BucketRow rows[] = {
        {"PerMinute", "2/min", {{0, true, 0}, {1, true, 0}, {2.5, false, 28}, {31, true, 0}, {31.5, false, 29}}},
        {"BurstAndDay", "2/s,3/day",
         {{0, true, 0}, {0, true, 0}, {0, false, 1}, {1, true, 0}, {5, false, 28795}, {28810, true, 0}}},
        {"Off", "off", {{0, true, 0}, {0, true, 0}, {0, true, 0}}},
    };
    for (const BucketRow& row : rows) {
        SCOPED_TRACE(row.name);
        RateLimit limit;
        std::string error;
        ASSERT_TRUE(ParseRateLimit(row.rate, limit, error)) << error;
        AddressRateLimiter limiter(limit);
        for (const BucketStep& step : row.steps) {
            SCOPED_TRACE(step.at);
            int retryAfter = 0;
            EXPECT_EQ(step.allowed, limiter.Take("10.0.0.1", 1000 + step.at, retryAfter));
            if (!step.allowed) {
                EXPECT_EQ(step.retryAfter, retryAfter);
            }
        }
    }
}

TEST(AddressRateLimiter, KeepsAtMostItsAddressesAndForgetsFullOnesFirst)
{
    RateLimit limit;
    std::string error;
    ASSERT_TRUE(ParseRateLimit("1/min", limit, error));
    AddressRateLimiter limiter(limit, 3);
    int retryAfter = 0;
    EXPECT_TRUE(limiter.Take("a", 0, retryAfter));
    for (int i = 0; i < 50; ++i)
        limiter.Take("x" + std::to_string(i), 100, retryAfter);
    EXPECT_LE(limiter.CountAddresses(), 3u);
    EXPECT_TRUE(limiter.Take("fresh", 100, retryAfter));
    EXPECT_FALSE(limiter.Take("fresh", 101, retryAfter)) << "a kept address keeps its count";
}

TEST(GetAddressKey, GroupsIpv6ByPrefix)
{
    const std::pair<const char*, const char*> rows[] = {
        {"127.0.0.2", "127.0.0.2"},
        {"2001:db8:1:2:aaaa:bbbb:cccc:dddd", "2001:db8:1:2::/64"},
        {"2001:db8:1:2::1", "2001:db8:1:2::/64"},
        {"::ffff:192.0.2.7", "192.0.2.7"},
        {"not an address", "not an address"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.second, GetAddressKey(row.first)) << row.first;
}

TEST(ResolveDiskFloor, DefaultIsTheSmallerOfOneGibAndFivePercent)
{
    const uint64_t GiB = 1ull << 30;
    const struct
    {
        const char* setting;  // nullptr: the default
        uint64_t total;
        uint64_t floor;
    } rows[] = {
        {nullptr, 10 * GiB, GiB / 2},  {nullptr, 100 * GiB, GiB}, {"2%", 100 * GiB, 2 * GiB},
        {"300M", 100 * GiB, 300u << 20}, {"0", 100 * GiB, 0},
    };
    for (const auto& row : rows) {
        ServeLimits limits;
        std::string error;
        if (row.setting != nullptr) {
            ASSERT_TRUE(ParseDiskFloor(row.setting, limits, error)) << error;
        }
        EXPECT_EQ(row.floor, ResolveDiskFloor(limits, row.total)) << (row.setting ? row.setting : "default");
    }
}

TEST(RefusalLog, WritesABurstThenSaysHowManyLinesItLeftOut)
{
    FILE* file = std::tmpfile();
    ASSERT_NE(nullptr, file);
    {
        RefusalLog log(file, 1, 5);
        for (int i = 0; i < 1000; ++i)
            log.WriteRefusal("127.0.0.1:" + std::to_string(i), "flood\x1b");
        EXPECT_GE(log.CountDropped(), 990u);
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        log.WriteRefusal("127.0.0.2:1", "after the flood");
    }
    const std::string text = ReadFile(file);
    std::fclose(file);
    EXPECT_LE(CountOccurrences(text, "\n"), 8u) << text;
    EXPECT_EQ(1u, CountOccurrences(text, "refusal lines left out")) << text;
    EXPECT_NE(std::string::npos, text.find("127.0.0.1:0 refused \"flood\\x1B\"")) << text;
    EXPECT_NE(std::string::npos, text.find("127.0.0.2:1 refused \"after the flood\"")) << text;
}

}  // namespace
