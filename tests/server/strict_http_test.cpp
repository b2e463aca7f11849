// Both listeners, over plain HTTP and TLS, as a request smuggler sees them:
// every request refused before or while its body is read ends the
// connection after its one answer, so whatever follows is never served.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "server/admin/admin_routes.h"
#include "server/api/report_routes.h"
#include "server/net/connection_guard.h"
#include "server/store/store_factory.h"
#include "tests/server/in_process_server.h"
#include "tests/server/raw_http.h"
#include "tests/server/temp_folder.h"
#include "tests/server/test_certificates.h"

namespace {

// {POST} and {GET} stand for a path of the listener that takes that method.
struct SmuggleRow
{
    const char* name;
    std::string request;  // sent at once, the smuggled query after it
    int reportStatus;  // 0: not a row for this listener
    int adminStatus;
};

const char kSmuggled[] = "GET {GET} HTTP/1.1\r\nHost: a\r\n\r\n";

std::string Fill(std::string text, bool admin)
{
    for (const auto& hole : {std::make_pair("{POST}", admin ? "/login" : "/bugreport/report/"),
                             std::make_pair("{GET}", admin ? "/login" : "/bugreport/latest_version")}) {
        for (size_t at = text.find(hole.first); at != std::string::npos; at = text.find(hole.first))
            text.replace(at, std::string(hole.first).size(), hole.second);
    }
    return text;
}

std::string Post(const std::string& fields, const std::string& body)
{
    return "POST {POST} HTTP/1.1\r\nHost: a\r\nContent-Type: application/x-www-form-urlencoded\r\n" + fields +
           "\r\n" + body;
}

std::string RepeatLines(const std::string& line, int count)
{
    std::string lines;
    for (int i = 0; i < count; ++i)
        lines += line;
    return lines;
}

const SmuggleRow kSmuggleRows[] = {
    {"LengthOverTheLimit", Post("Content-Length: 70000000\r\n", ""), 413, 413},
    {"LogInFormOverItsLimit", Post("Content-Length: 100000\r\n", ""), 0, 413},
    {"BodyOnGet", "GET {GET} HTTP/1.1\r\nHost: a\r\nContent-Length: 31\r\n\r\n", 400, 400},
    {"BodyOnHead", "HEAD {GET} HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\n", 400, 400},
    {"UnknownMethod", "BREW {GET} HTTP/1.1\r\nHost: a\r\n\r\n", 501, 501},
    {"Version12", "GET {GET} HTTP/1.2\r\nHost: a\r\n\r\n", 505, 505},
    {"NoHost", "GET {GET} HTTP/1.1\r\n\r\n", 400, 400},
    {"FoldedLine", "GET {GET} HTTP/1.1\r\nHost: a\r\nX-A: b\r\n c\r\n\r\n", 400, 400},
    {"LengthAndChunked", Post("Content-Length: 5\r\nTransfer-Encoding: chunked\r\n", "0\r\n\r\n"), 400, 400},
    {"TwoLengths", Post("Content-Length: 5\r\nContent-Length: 0\r\n", ""), 400, 400},
    {"GzipThenChunked", Post("Transfer-Encoding: gzip, chunked\r\n", "0\r\n\r\n"), 400, 400},
    // The log-in form takes no chunked body at all.
    {"HexPrefixedChunk", Post("Transfer-Encoding: chunked\r\n", "0x5\r\nabcde\r\n0\r\n\r\n"), 400, 413},
    {"ChunkWithoutCrlf", Post("Transfer-Encoding: chunked\r\n", "3\r\nabcde\r\n0\r\n\r\n"), 400, 413},
    // The interface reads a small body it has no route for.
    {"UnreadBodyOf405", "PUT {POST} HTTP/1.1\r\nHost: a\r\nContent-Length: 31\r\n\r\n", 405, 0},
    // Refused before the head ends: neither waits for the rest.
    {"LongUri", "GET /" + std::string(9000, 'a') + " HTTP/1.1\r\nHost: a\r\n", 414, 414},
    {"LongHeaderLine", "GET {GET} HTTP/1.1\r\nX-A: " + std::string(9000, 'a'), 431, 431},
    {"ManyHeaderLines", "GET {GET} HTTP/1.1\r\n" + RepeatLines("X-A: b\r\n", 101), 431, 431},
    {"BigHead", "GET {GET} HTTP/1.1\r\n" + RepeatLines("X-A: " + std::string(4000, 'b') + "\r\n", 5), 431, 431},
};

struct StrictRow
{
    const char* name;
    bool admin;
    bool tls;
};

void PrintTo(const StrictRow& row, std::ostream* os)
{
    *os << row.name;
}

class StrictHttpTest : public ::testing::TestWithParam<StrictRow>
{
protected:
    void SetUp() override
    {
        signal(SIGPIPE, SIG_IGN);
        std::string error;
        m_reports.dataDir = m_folder.Path();
        m_reports.maxBody = 1 << 20;
        m_reports.store = OpenReportStore(m_folder.Path(), "", true, error);
        ASSERT_TRUE(m_reports.store) << error;
        ServeLimits limits = MakeDefaultServeLimits();
        limits.diskFloorOff = true;
        limits.queryRate.clear();
        ApplyServeLimits(m_reports, limits);
        m_server.reset(new GuardedServer(limits, nullptr));
        if (GetParam().tls) {
            const std::string certificates = MakeTestCertificates(m_folder);
            ASSERT_FALSE(certificates.empty());
            ASSERT_TRUE(m_server->UseTls(certificates + "/server.pem", certificates + "/server.key", error)) << error;
            m_tls.reset(MakeTlsClientContext());
        }
        if (GetParam().admin) {
            ASSERT_TRUE(OpenAdminService(m_admin, m_folder.Path(), "", *m_reports.store, error)) << error;
            InstallAdminRoutes(*m_server, m_admin);
        } else {
            InstallReportRoutes(*m_server, m_reports);
        }
        StartListening(*m_server, m_thread, m_port);
    }

    void TearDown() override { StopListening(*m_server, m_thread); }

    // Everything the server sends on one connection for bytes, until it
    // closes it (true) or seconds have passed (false).
    bool SendAndReadToClose(const std::string& bytes, std::string& answers, int seconds = 5)
    {
        RawConnection connection;
        if (!connection.Open(nullptr, m_port, m_tls.get()) || !connection.Send(bytes))
            return false;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < end) {
            if (connection.Receive(answers, 100) == 0)
                return true;
        }
        return false;
    }

    TempFolder m_folder;
    ReportService m_reports;
    AdminService m_admin;
    std::unique_ptr<GuardedServer> m_server;
    std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> m_tls{nullptr, SSL_CTX_free};
    std::thread m_thread;
    int m_port = 0;
};

size_t CountAnswers(const std::string& answers)
{
    size_t count = 0;
    for (size_t at = answers.find("HTTP/1.1 "); at != std::string::npos; at = answers.find("HTTP/1.1 ", at + 1))
        ++count;
    return count;
}

TEST_P(StrictHttpTest, AnswersARefusedRequestOnceAndCloses)
{
    const bool admin = GetParam().admin;
    for (const SmuggleRow& row : kSmuggleRows) {
        SCOPED_TRACE(row.name);
        const int status = admin ? row.adminStatus : row.reportStatus;
        if (status == 0)
            continue;
        std::string answers;
        EXPECT_TRUE(SendAndReadToClose(Fill(row.request + kSmuggled, admin), answers)) << answers;
        EXPECT_EQ(1u, CountAnswers(answers)) << answers;
        EXPECT_EQ("HTTP/1.1 " + std::to_string(status), answers.substr(0, 12));
        const std::string head = answers.substr(0, answers.find("\r\n\r\n"));
        EXPECT_NE(std::string::npos, head.find("\r\nConnection: close")) << head;
        EXPECT_EQ(std::string::npos, head.find("Keep-Alive")) << head;
    }
    // The same query twice on one connection is answered twice: the rows
    // above are closed for what they are, not for being pipelined.
    std::string answers;
    const std::string query = Fill(kSmuggled, admin);
    EXPECT_FALSE(SendAndReadToClose(query + query, answers, 1));
    EXPECT_EQ(2u, CountAnswers(answers)) << answers;
}

INSTANTIATE_TEST_SUITE_P(Listeners, StrictHttpTest,
                         ::testing::Values(StrictRow{"Reports", false, false}, StrictRow{"ReportsTls", false, true},
                                           StrictRow{"Admin", true, false}, StrictRow{"AdminTls", true, true}),
                         [](const ::testing::TestParamInfo<StrictRow>& info) { return std::string(info.param.name); });

}  // namespace
