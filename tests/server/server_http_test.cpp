// The HTTP side in process: uploads stored or refused, limits, paths and
// methods, the two query files, concurrency and restarts; on both stores.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "server/api/report_routes.h"
#include "server/commands/command_line.h"
#include "server/store/report_store.h"
#include "server/store/sqlite_handles.h"
#include "server/store/store_factory.h"
#include "server/store/stored_fields.h"
#include "tests/server/in_process_server.h"
#include "tests/server/malformed_bodies.h"
#include "tests/server/raw_http.h"
#include "tests/server/report_factory.h"
#include "tests/server/temp_folder.h"
#include "tests/server/test_postgres.h"

namespace {

const char kFormType[] = "application/x-www-form-urlencoded";  // what the reporter sends

class ReportServerTest : public ::testing::TestWithParam<StoreKind>
{
protected:
    void SetUp() override
    {
        signal(SIGPIPE, SIG_IGN);  // a refused client's unsent body must not end the test
        std::string error;
        ASSERT_TRUE(PrepareTestStore(GetParam(), m_folder.Path(), m_store, error)) << error;
        StartServer(kDefaultMaxBody);
    }

    void TearDown() override { StopServer(); }

    void StartServer(uint64_t maxBody)
    {
        m_service.reset(new ReportService);
        m_service->dataDir = m_folder.Path();
        m_service->maxBody = maxBody;
        std::string error;
        m_service->store = OpenReportStore(m_folder.Path(), m_store.databaseUrl, true, error);
        ASSERT_TRUE(m_service->store) << error;

        m_server.reset(new httplib::Server);
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

    std::unique_ptr<httplib::Client> MakeClient()
    {
        std::unique_ptr<httplib::Client> client(new httplib::Client("127.0.0.1", m_port));
        client->set_read_timeout(60, 0);
        client->set_write_timeout(60, 0);
        client->set_default_headers({{"User-Agent", "Brevora Bug Reporter"}});
        return client;
    }

    httplib::Result Post(const std::string& body)
    {
        return MakeClient()->Post("/bugreport/report/", body, kFormType);
    }

    // Through a connection of its own, as list and show see the store.
    std::unique_ptr<ReportStore> OpenSecondConnection()
    {
        std::string error;
        std::unique_ptr<ReportStore> store = OpenReportStore(m_folder.Path(), m_store.databaseUrl, false, error);
        EXPECT_TRUE(store) << error;
        return store;
    }

    size_t CountReports()
    {
        std::unique_ptr<ReportStore> store = OpenSecondConnection();
        std::vector<ReportSummary> reports;
        std::string error;
        EXPECT_TRUE(store && store->ListReports(reports, error)) << error;
        return reports.size();
    }

    // Through the store's own reader, so the test holds no copy of the table.
    std::string LoadRawBody(int64_t id)
    {
        std::unique_ptr<ReportStore> store = OpenSecondConnection();
        size_t rawField = 0;
        while (rawField < kStoredFieldCount && std::string(kStoredFieldNames[rawField]) != "raw_body")
            ++rawField;
        std::string body = "<no row>";
        std::string error;
        EXPECT_TRUE(store && VisitStoredFields(
            *store,
            [&](int64_t storedId, ReportKind kind, const std::vector<std::string>& fields, std::string&) {
                if (storedId == id && kind == ReportKind::Bug && rawField < fields.size())
                    body = fields[rawField];
                return true;
            },
            error))
            << error;
        return body;
    }

    TempFolder m_folder;
    TestStore m_store;
    std::unique_ptr<ReportService> m_service;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
};

TEST_P(ReportServerTest, StoresAnUploadAndAnswersItsId)
{
    std::mt19937 rng(1);
    ReportInput input = MakeRealisticReport(rng, 1024 * 1024);
    input.email = "first@example.com";
    const std::string body = EncodeReport(input);

    httplib::Result result = Post(body);
    ASSERT_TRUE(result) << httplib::to_string(result.error());
    EXPECT_EQ(201, result->status);
    EXPECT_EQ("1\n", result->body);

    // Committed before the answer: another connection sees it at once.
    std::unique_ptr<ReportStore> store = OpenSecondConnection();
    ASSERT_TRUE(store);
    StoredReport stored;
    std::string error;
    ASSERT_EQ(LoadResult::Found, store->LoadReport(1, stored, error)) << error;
    EXPECT_EQ("first@example.com", stored.report.email);
    EXPECT_EQ(input.description1, stored.report.description1);
    EXPECT_EQ(input.description2, stored.report.description2);
    EXPECT_EQ(input.description3, stored.report.description3);
    EXPECT_EQ(input.systemInfo, stored.report.systemInfo);
    EXPECT_EQ("user_info.txt", stored.report.attachment.name);
    EXPECT_EQ(input.dxdiag.bytes, stored.report.attachment.content);
    EXPECT_EQ("brevora_log.txt", stored.report.attachmentLog.name);
    EXPECT_EQ(input.log.bytes, stored.report.attachmentLog.content);
    EXPECT_EQ("Brevora Bug Reporter", stored.origin.userAgent);
    EXPECT_EQ(0u, stored.origin.peer.find("127.0.0.1:")) << stored.origin.peer;
    EXPECT_EQ(24u, stored.origin.receivedUtc.size()) << stored.origin.receivedUtc;
    EXPECT_EQ(body, stored.rawBody);
    EXPECT_EQ(body, LoadRawBody(1));
}

TEST_P(ReportServerTest, RefusesEachMalformedBodyAndStoresNothing)
{
    std::unique_ptr<httplib::Client> client = MakeClient();
    for (const MalformedBody& c : MakeMalformedBodies()) {
        SCOPED_TRACE(c.name);
        httplib::Result result = client->Post("/bugreport/report/", c.body, kFormType);
        ASSERT_TRUE(result) << httplib::to_string(result.error());
        EXPECT_EQ(400, result->status);
        EXPECT_NE(std::string::npos, result->body.find(c.reasonPart)) << result->body;
        EXPECT_EQ(result->body.size() - 1, result->body.find('\n')) << "not one line: " << result->body;
    }
    EXPECT_EQ(0u, CountReports());
}

TEST_P(ReportServerTest, RefusesBodiesOverTheLimitWithoutReadingThem)
{
    StopServer();
    StartServer(64 * 1024);
    std::mt19937 rng(2);
    ASSERT_EQ(201, Post(EncodeReport(MakeRealisticReport(rng, 1000)))->status);

    httplib::Result big = Post(EncodeReport(MakeRealisticReport(rng, 60 * 1024)));
    ASSERT_TRUE(big) << httplib::to_string(big.error());
    EXPECT_EQ(413, big->status);

    // A length of 1 GiB announced and no body sent: the answer cannot wait for it.
    const std::string head = "POST /bugreport/report/ HTTP/1.1\r\nHost: x\r\nContent-Type: " +
                             std::string(kFormType) + "\r\nContent-Length: 1073741824\r\n";
    RawResponse announced = ExchangeRaw(m_port, head + "\r\n", 3000);
    ASSERT_TRUE(announced.received);
    EXPECT_EQ(413, announced.status);
    EXPECT_EQ("close", announced.headers["connection"]);

    // A client that asks first is refused before it sends anything.
    RawResponse expect = ExchangeRaw(m_port, head + "Expect: 100-continue\r\n\r\n", 3000);
    ASSERT_TRUE(expect.received);
    EXPECT_EQ(413, expect.status);

    // Chunked: no length up front, refused as it grows past the limit.
    std::string chunked = "POST /bugreport/report/ HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 80; ++i)
        chunked += "400\r\n" + std::string(1024, 'A') + "\r\n";
    chunked += "0\r\n\r\n";
    RawResponse streamed = ExchangeRaw(m_port, chunked, 5000);
    ASSERT_TRUE(streamed.received);
    EXPECT_EQ(413, streamed.status);

    EXPECT_EQ(1u, CountReports());
}

TEST_P(ReportServerTest, AcceptsAChunkedUpload)
{
    std::mt19937 rng(3);
    const std::string body = EncodeReport(MakeRealisticReport(rng, 100 * 1024));
    httplib::Result result = MakeClient()->Post(
        "/bugreport/report/",
        [&body](size_t offset, httplib::DataSink& sink) {
            const size_t piece = std::min<size_t>(7000, body.size() - offset);
            sink.write(body.data() + offset, piece);
            if (offset + piece == body.size())
                sink.done();
            return true;
        },
        kFormType);
    ASSERT_TRUE(result) << httplib::to_string(result.error());
    EXPECT_EQ(201, result->status);
    EXPECT_EQ(body, LoadRawBody(1));
}

// Crash reports: the same strictness, their own limit, and ids that
// continue the bug reports' (one id names one report of either kind).
TEST_P(ReportServerTest, StoresCrashReportsBesideBugReportsUnderOneSequenceOfIds)
{
    std::mt19937 rng(5);
    const std::string dump = MakeRandomBytes(rng, 50 * 1024, false);
    const std::string crash = EncodeCrashReport("it froze\r\n\xE6\x97\xA5", dump, "log\n", "conf\n");
    std::unique_ptr<httplib::Client> client = MakeClient();
    const char* const paths[] = {"/bugreport/report/", "/bugreport/crash/", "/bugreport/report/"};
    for (int i = 0; i < 3; ++i) {
        const std::string body = i == 1 ? crash : EncodeReport(MakeRealisticReport(rng, 100));
        httplib::Result result = client->Post(paths[i], body, kFormType);
        ASSERT_TRUE(result) << httplib::to_string(result.error());
        EXPECT_EQ(201, result->status) << result->body;
        EXPECT_EQ(std::to_string(i + 1) + "\n", result->body);
    }

    std::unique_ptr<ReportStore> store = OpenSecondConnection();
    ASSERT_TRUE(store);
    StoredCrashReport stored;
    StoredReport notBug;
    std::string error;
    ASSERT_EQ(LoadResult::Found, store->LoadCrashReport(2, stored, error)) << error;
    EXPECT_EQ(LoadResult::NotFound, store->LoadReport(2, notBug, error));
    EXPECT_EQ("it froze\r\n\xE6\x97\xA5", stored.report.comment);
    EXPECT_TRUE(dump == stored.report.dump.content) << "the dump, NUL bytes and all";
    EXPECT_EQ("brevora.dmp", stored.report.dump.name);
    EXPECT_EQ("log\n", stored.report.log.content);
    EXPECT_EQ("brevora.conf", stored.report.conf.name);
    EXPECT_EQ(crash, stored.rawBody);

    const std::string small = EncodeCrashReport("", "d", "l", "c");
    const MalformedBody refused[] = {
        {"BugReportBody", EncodeReport(MakeRealisticReport(rng, 10)), "record 1 (comment) expected, found unknown key"},
        {"RecordsOutOfOrder", small.substr(0, small.find("attachment_dump_name ")) + "attachment_log_name bG9n\n\n",
         "record 2 (attachment_dump_name) expected, found the key of record 4 (attachment_log_name)"},
        {"DumpLineOf99", crash.substr(0, crash.find("attachment_dump ") + 16) + std::string(99, 'A') + "\n" +
                             std::string(100, 'A') + "\n\n",
         "record 3 (attachment_dump): line 1 has 99 characters"},
        {"Truncated", small.substr(0, small.size() - 1), "body ends inside record 7 (attachment_conf)"},
    };
    for (const MalformedBody& c : refused) {
        SCOPED_TRACE(c.name);
        httplib::Result result = client->Post("/bugreport/crash/", c.body, kFormType);
        ASSERT_TRUE(result) << httplib::to_string(result.error());
        EXPECT_EQ(400, result->status);
        EXPECT_NE(std::string::npos, result->body.find(c.reasonPart)) << result->body;
        EXPECT_EQ(result->body.size() - 1, result->body.find('\n')) << "not one line: " << result->body;
    }

    // The crash limit is the crash route's alone.
    m_service->maxCrashBody = small.size();
    EXPECT_EQ(413, client->Post("/bugreport/crash/", EncodeCrashReport("", "dddd", "l", "c"), kFormType)->status);
    EXPECT_EQ(201, client->Post("/bugreport/crash/", small, kFormType)->status);
    EXPECT_EQ(201, client->Post("/bugreport/report/", EncodeReport(MakeRealisticReport(rng, 100)), kFormType)->status);
    EXPECT_EQ(5u, CountReports());
}

struct RouteRow
{
    const char* name;
    const char* method;
    const char* path;
    int status;
    const char* allow;
};

TEST_P(ReportServerTest, AnswersUnknownPathsAndWrongMethods)
{
    const RouteRow rows[] = {
        {"Root", "GET", "/", 404, ""},
        {"ReportWithoutSlash", "POST", "/bugreport/report", 404, ""},
        {"ComponentsWithoutSlash", "GET", "/bugreport/components", 404, ""},
        {"LatestVersionWithSlash", "GET", "/bugreport/latest_version/", 404, ""},
        {"OtherPathWithBody", "POST", "/upload", 404, ""},
        {"GetOfUpload", "GET", "/bugreport/report/", 405, "POST"},
        {"PutOfUpload", "PUT", "/bugreport/report/", 405, "POST"},
        {"DeleteOfUpload", "DELETE", "/bugreport/report/", 405, "POST"},
        {"PostOfComponents", "POST", "/bugreport/components/", 405, "GET, HEAD"},
        {"PostOfLatestVersion", "POST", "/bugreport/latest_version", 405, "GET, HEAD"},
        {"OptionsOfComponents", "OPTIONS", "/bugreport/components/", 405, "GET, HEAD"},
    };
    const std::string body = MakeSmallValidBody();
    for (const RouteRow& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string request = std::string(row.method) + " " + row.path + " HTTP/1.1\r\nHost: x\r\n" +
                                    "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        RawResponse response = ExchangeRaw(m_port, request);
        ASSERT_TRUE(response.received);
        EXPECT_EQ(row.status, response.status);
        EXPECT_EQ(row.allow, response.headers["allow"]);
        EXPECT_EQ(response.body.size() - 1, response.body.find('\n')) << "not one line: " << response.body;
    }
    EXPECT_EQ(0u, CountReports());
}

TEST_P(ReportServerTest, RefusesAnUploadWithoutLength)
{
    RawResponse response = ExchangeRaw(m_port, "POST /bugreport/report/ HTTP/1.1\r\nHost: x\r\n\r\n", 3000);
    ASSERT_TRUE(response.received);
    EXPECT_EQ(411, response.status);
}

struct QueryFile
{
    const char* name;
    std::string bytes;
};

TEST_P(ReportServerTest, ServesTheQueryFilesByteForByteOr404)
{
    std::string long_(5000, 'v');
    for (size_t i = 0; i < long_.size(); i += 50)
        long_[i] = '\n';
    const QueryFile rows[] = {
        {"CrLf", "2.1.0\r\nhttp://example.com/download\r\n"},
        {"NoLineFeed", "2.1.0"},
        {"OnlyLineFeeds", "\n\n\n"},
        {"LeadingEmptyLines", "\n\n2.1.0\n\nhttp://example.com/\n"},
        {"Over2048Bytes", long_},
        {"Empty", ""},
        {"HighBytesAndNul", std::string("Vid\xE9o\0Audio\n", 12)},
    };
    const char* const files[][2] = {{"components.txt", "/bugreport/components/"},
                                    {"latest_version.txt", "/bugreport/latest_version"}};
    for (const auto& file : files) {
        RawResponse missing = ExchangeRaw(m_port, std::string("GET ") + file[1] + " HTTP/1.1\r\nHost: x\r\n\r\n");
        EXPECT_EQ(404, missing.status) << file[0] << " missing";
    }
    for (const QueryFile& row : rows) {
        for (const auto& file : files) {
            SCOPED_TRACE(std::string(row.name) + " in " + file[0]);
            std::ofstream(m_folder.Path() + "/" + file[0], std::ios::binary) << row.bytes;
            RawResponse response =
                ExchangeRaw(m_port, std::string("GET ") + file[1] + " HTTP/1.1\r\nHost: x\r\n\r\n");
            ASSERT_TRUE(response.received);
            EXPECT_EQ(200, response.status);
            EXPECT_EQ("text/plain", response.headers["content-type"]);
            EXPECT_EQ(row.bytes, response.body);
        }
    }
}

// Uploads that arrive together commit together: each must still get its
// own id, and the id it is answered must be its own report's, of its kind.
TEST_P(ReportServerTest, StoresEightConcurrentUploadsEachOnce)
{
    const int kClients = 8;
    std::vector<std::string> bodies;
    std::mt19937 rng(4);
    for (int i = 0; i < kClients; ++i) {
        const std::string who = "client" + std::to_string(i) + "@example.com";
        if (i % 3 == 2) {
            bodies.push_back(EncodeCrashReport(who, MakeRandomBytes(rng, 64 * 1024, false), "log\n", "conf\n"));
            continue;
        }
        ReportInput input = MakeRealisticReport(rng, 256 * 1024);
        input.email = who;
        bodies.push_back(EncodeReport(input));
    }

    std::vector<int> statuses(kClients, 0);
    std::vector<std::string> answers(kClients);
    std::atomic<int> ready(0);
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([&, i] {
            std::unique_ptr<httplib::Client> client = MakeClient();
            ++ready;
            while (ready < kClients)
                std::this_thread::yield();  // start together
            httplib::Result result =
                client->Post(i % 3 == 2 ? "/bugreport/crash/" : "/bugreport/report/", bodies[i], kFormType);
            if (result) {
                statuses[i] = result->status;
                answers[i] = result->body;
            }
        });
    }
    for (std::thread& t : clients)
        t.join();

    std::set<std::string> ids;
    for (int i = 0; i < kClients; ++i) {
        EXPECT_EQ(201, statuses[i]) << "client " << i;
        ids.insert(answers[i]);
    }
    EXPECT_EQ(size_t{kClients}, ids.size()) << "two uploads got the same id";

    std::unique_ptr<ReportStore> store = OpenSecondConnection();
    std::vector<ReportSummary> reports;
    std::string error;
    ASSERT_TRUE(store && store->ListReports(reports, error)) << error;
    ASSERT_EQ(size_t{kClients}, reports.size());
    for (int i = 0; i < kClients; ++i) {
        SCOPED_TRACE("client " + std::to_string(i));
        const int64_t id = std::atoll(answers[i].c_str());
        const std::string who = "client" + std::to_string(i) + "@example.com";
        if (i % 3 == 2) {
            StoredCrashReport crash;
            ASSERT_EQ(LoadResult::Found, store->LoadCrashReport(id, crash, error)) << error;
            EXPECT_EQ(who, crash.report.comment);
            EXPECT_TRUE(bodies[i] == crash.rawBody);
        } else {
            StoredReport bug;
            ASSERT_EQ(LoadResult::Found, store->LoadReport(id, bug, error)) << error;
            EXPECT_EQ(who, bug.report.email);
            EXPECT_TRUE(bodies[i] == bug.rawBody);
        }
    }
}

TEST_P(ReportServerTest, KeepsReportsAcrossRestarts)
{
    std::mt19937 rng(5);
    ReportInput first = MakeRealisticReport(rng, 5000);
    first.email = "before@example.com";
    ASSERT_EQ(201, Post(EncodeReport(first))->status);
    ASSERT_EQ(201, Post(EncodeReport(MakeRealisticReport(rng, 5000)))->status);

    StopServer();
    StartServer(kDefaultMaxBody);

    std::unique_ptr<ReportStore> store = OpenSecondConnection();
    ASSERT_TRUE(store);
    StoredReport stored;
    std::string error;
    ASSERT_EQ(LoadResult::Found, store->LoadReport(1, stored, error)) << error;
    EXPECT_EQ("before@example.com", stored.report.email);
    EXPECT_EQ(first.log.bytes, stored.report.attachmentLog.content);

    httplib::Result third = Post(EncodeReport(MakeRealisticReport(rng, 5000)));
    ASSERT_TRUE(third);
    EXPECT_EQ("3\n", third->body);
}

INSTANTIATE_TEST_SUITE_P(BothStores, ReportServerTest, ::testing::ValuesIn(kBothStores),
                         [](const ::testing::TestParamInfo<StoreKind>& info) { return NameStoreKind(info.param); });

TEST(SqliteStore, KeepsTheDatabaseInWalMode)
{
    TempFolder folder;
    std::string error;
    ASSERT_TRUE(OpenReportStore(folder.Path(), "", true, error)) << error;
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open((folder.Path() + "/" + kDatabaseFileName).c_str(), &db));
    SqliteDatabase owned(db);
    sqlite3_stmt* raw = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &raw, nullptr));
    SqliteStatement statement(raw);
    ASSERT_EQ(SQLITE_ROW, sqlite3_step(raw));
    EXPECT_STREQ("wal", reinterpret_cast<const char*>(sqlite3_column_text(raw, 0)));
}

}  // namespace
