// The real executable: help, errors and exit statuses, serve with its log
// and signals, and list, show and export of what it stored.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "server/sqlite_handles.h"
#include "tests/server/report_factory.h"
#include "tests/server/server_process.h"
#include "tests/server/temp_folder.h"

namespace {

const char kFormType[] = "application/x-www-form-urlencoded";

int CountOccurrences(const std::string& text, const std::string& part)
{
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

int CountLines(const std::string& text)
{
    return CountOccurrences(text, "\n");
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

httplib::Result PostReport(int port, const std::string& body)
{
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(60, 0);
    client.set_default_headers({{"User-Agent", "Brevora Bug Reporter"}});
    return client.Post("/bugreport/report/", body, kFormType);
}

TEST(ServerCommandLine, PrintsHelpForEachCommand)
{
    const std::vector<std::vector<std::string>> rows = {
        {"--help"}, {"serve", "--help"}, {"list", "-h"}, {"show", "--help"}, {"export", "--help"}};
    for (const std::vector<std::string>& args : rows) {
        SCOPED_TRACE(args[0]);
        ProgramResult result = RunServer(args);
        EXPECT_EQ(0, result.exitStatus);
        EXPECT_EQ(0u, result.out.find("Usage: brevora-report-server " + (args.size() > 1 ? args[0] : "COMMAND")))
            << result.out;
        EXPECT_EQ("", result.err);
    }
}

struct ErrorRow
{
    const char* name;
    std::vector<std::string> args;
    int exitStatus;
    std::string messagePart;
};

// The test authority and server certificates (tests/common), made afresh.
std::string MakeTestCertificates(const TempFolder& folder)
{
    const std::string out = folder.Path() + "/tls";
    const std::string command = std::string("'") + BREVORA_TEST_CERTIFICATE_SCRIPT + "' '" + out + "'";
    return std::system(command.c_str()) == 0 ? out : std::string();
}

TEST(ServerCommandLine, FailsWithOneLineAndAnExitStatus)
{
    TempFolder folder;
    std::ofstream(folder.Path() + "/file") << "a file, not a folder";
    const std::string data = folder.Path() + "/data";
    const std::string tls = MakeTestCertificates(folder);
    ASSERT_FALSE(tls.empty());
    const std::string tlsData = folder.Path() + "/tls-data";
    const auto serveTls = [&](const std::string& cert, const std::string& key) {
        return std::vector<std::string>{"serve", "--data", tlsData, "--listen", "127.0.0.1:0", "--tls-cert",
                                        tls + "/" + cert, "--tls-key", tls + "/" + key};
    };

    const ErrorRow rows[] = {
        {"NoCommand", {}, 2, "no command given"},
        {"UnknownCommand", {"restart"}, 2, "unknown command 'restart'"},
        {"UnknownOption", {"serve", "--data", data, "--threads", "4"}, 2, "unknown option '--threads'"},
        {"BadAddress", {"serve", "--data", data, "--listen", "127.0.0.1"}, 2, "bad listen address '127.0.0.1'"},
        {"AddressNotHere", {"serve", "--data", data, "--listen", "192.0.2.1:8080"}, 1,
         "cannot listen on 192.0.2.1:8080: the address is not one of this machine's"},
        {"DataFolderUnderFile", {"serve", "--data", folder.Path() + "/file/data"}, 1, "cannot create the data folder"},
        {"DataFolderIsFile", {"serve", "--data", folder.Path() + "/file"}, 1, "is not a folder"},
        {"ListWithoutDatabase", {"list", "--data", folder.Path()}, 1, "no report database in"},
        {"ShowWithoutDatabase", {"show", "--data", folder.Path(), "1"}, 1, "no report database in"},
        {"ShowBadId", {"show", "--data", folder.Path(), "one"}, 2, "bad report id 'one'"},
        {"TlsCertMissing", serveTls("none.pem", "server.key"), 1,
         "cannot read the TLS certificate '" + tls + "/none.pem': No such file or directory"},
        {"TlsKeyMissing", serveTls("server.pem", "none.key"), 1,
         "cannot read the TLS key '" + tls + "/none.key': No such file or directory"},
        {"TlsKeyOfAnotherCertificate", serveTls("server.pem", "wronghost.key"), 1,
         "the TLS key '" + tls + "/wronghost.key' does not belong to the certificate '" + tls + "/server.pem'"},
        {"TlsCertIsAKey", serveTls("server.key", "server.key"), 1,
         "'" + tls + "/server.key' holds no PEM certificate"},
        {"TlsKeyIsACertificate", serveTls("server.pem", "server.pem"), 1,
         "'" + tls + "/server.pem' holds no PEM private key"},
    };
    for (const ErrorRow& row : rows) {
        SCOPED_TRACE(row.name);
        ProgramResult result = RunServer(row.args);
        EXPECT_EQ(row.exitStatus, result.exitStatus);
        EXPECT_EQ(0u, result.err.find("brevora-report-server: error: ")) << result.err;
        EXPECT_NE(std::string::npos, result.err.find(row.messagePart)) << result.err;
        EXPECT_EQ(1, CountLines(result.err)) << result.err;
        EXPECT_EQ("", result.out);
    }
    struct stat info;
    EXPECT_NE(0, stat(tlsData.c_str(), &info)) << "a refused certificate leaves the data folder untouched";
}

TEST(ServerCommandLine, ServesHttpsWithTheGivenCertificate)
{
    TempFolder folder;
    const std::string tls = MakeTestCertificates(folder);
    ASSERT_FALSE(tls.empty());
    std::ofstream(folder.Path() + "/components.txt") << "Player\nLibrary\n";
    ServerProcess server;
    ASSERT_TRUE(server.Start({"--data", folder.Path(), "--listen", "127.0.0.1:0", "--tls-cert", tls + "/server.pem",
                              "--tls-key", tls + "/server.key"}))
        << server.Stderr();
    EXPECT_NE(std::string::npos, server.Stderr().find(" (HTTPS), data in ")) << server.Stderr();

    httplib::SSLClient client("127.0.0.1", server.Port());
    client.set_ca_cert_path((tls + "/ca.pem").c_str());
    client.enable_server_certificate_verification(true);
    httplib::Result components = client.Get("/bugreport/components/");
    ASSERT_TRUE(components) << httplib::to_string(components.error());
    EXPECT_EQ(200, components->status);
    EXPECT_EQ("Player\nLibrary\n", components->body);
    std::mt19937 rng(11);
    httplib::Result stored = client.Post("/bugreport/report/", EncodeReport(MakeRealisticReport(rng, 100)), kFormType);
    ASSERT_TRUE(stored);
    EXPECT_EQ(201, stored->status);

    httplib::Client plain("127.0.0.1", server.Port());
    httplib::Result refused = plain.Get("/bugreport/components/");
    EXPECT_FALSE(refused && refused->status == 200) << "plain HTTP on the HTTPS port";
    EXPECT_EQ(0, server.Stop(SIGTERM));
}

TEST(ServerCommandLine, RefusesAPortInUse)
{
    TempFolder folder;
    ServerProcess first;
    ASSERT_TRUE(first.Start({"--data", folder.Path(), "--listen", "127.0.0.1:0"})) << first.Stderr();

    ProgramResult second = RunServer(
        {"serve", "--data", folder.Path(), "--listen", "127.0.0.1:" + std::to_string(first.Port())});
    EXPECT_EQ(1, second.exitStatus);
    EXPECT_NE(std::string::npos, second.err.find("the port is already in use")) << second.err;
    EXPECT_EQ(0, first.Stop(SIGTERM));
}

// Serves, logs, stops on each signal, and what it stored can be listed,
// shown and exported afterwards.
TEST(ServerCommandLine, ServesThenListsShowsAndExports)
{
    TempFolder folder;
    const std::string data = folder.Path() + "/new/data";  // made by serve
    std::mt19937 rng(8);
    ReportInput first = MakeRealisticReport(rng, 200 * 1024);
    first.log.bytes[1000] = '\0';  // travels as the first 1000 bytes only
    const std::string firstSection = first.systemInfo;
    first.systemInfo += "\nElement=Library\r";  // the component, as the server's list had it
    ReportInput second = MakeRealisticReport(rng, 10);
    second.email = "";
    second.description1 = "\x1b[2JSecond report\r\nmore";
    second.dxdiag.kind = FileInput::Missing;

    ServerProcess server;
    ASSERT_TRUE(server.Start({"--data", data, "--listen", "127.0.0.1:0"})) << server.Stderr();
    httplib::Result one = PostReport(server.Port(), EncodeReport(first));
    ASSERT_TRUE(one);
    EXPECT_EQ(201, one->status);
    httplib::Result bad = PostReport(server.Port(), "email \n\n");
    ASSERT_TRUE(bad);
    EXPECT_EQ(400, bad->status);
    EXPECT_EQ(0, server.Stop(SIGINT));
    EXPECT_NE(std::string::npos, server.Stderr().find("stopped on SIGINT"));

    // Restarted on the same folder; SIGTERM this time.
    ServerProcess again;
    ASSERT_TRUE(again.Start({"--data", data, "--listen", "127.0.0.1:0"})) << again.Stderr();
    httplib::Result two = PostReport(again.Port(), EncodeReport(second));
    ASSERT_TRUE(two);
    EXPECT_EQ("2\n", two->body);
    ASSERT_TRUE(again.WaitForStderr(" 201 "));
    EXPECT_EQ(0, again.Stop(SIGTERM));

    // One log line per request: the start line, two requests, the stop line.
    const std::string log = server.Stderr();
    EXPECT_EQ(4, CountLines(log)) << log;
    EXPECT_EQ(1, CountOccurrences(log, " POST /bugreport/report/ 201 in=")) << log;
    EXPECT_EQ(1, CountOccurrences(log, " POST /bugreport/report/ 400 in=8 ")) << log;
    EXPECT_EQ(3, CountLines(again.Stderr())) << again.Stderr();

    ProgramResult list = RunServer({"list", "--data", data});
    EXPECT_EQ(0, list.exitStatus) << list.err;
    ASSERT_EQ(2, CountLines(list.out)) << list.out;
    EXPECT_EQ(0u, list.out.find("1\t")) << list.out;
    EXPECT_NE(std::string::npos, list.out.find("\ttester@example.com\t1. Start Brevora\n")) << list.out;
    EXPECT_NE(std::string::npos, list.out.find("\n2\t")) << list.out;
    EXPECT_NE(std::string::npos, list.out.find("\t-\t\\x1B[2JSecond report\n")) << list.out;

    ProgramResult show = RunServer({"show", "--data", data, "2"});
    EXPECT_EQ(0, show.exitStatus) << show.err;
    EXPECT_NE(std::string::npos, show.out.find("User agent:   Brevora Bug Reporter\n")) << show.out;
    EXPECT_NE(std::string::npos, show.out.find("E-mail:       (none)\n")) << show.out;
    EXPECT_NE(std::string::npos, show.out.find("Component:    (none)\n")) << "sent without one: " << show.out;
    EXPECT_NE(std::string::npos, show.out.find("Attachment:   user_info.txt, no content (the file was empty or missing"))
        << show.out;
    EXPECT_NE(std::string::npos, show.out.find("Log:          brevora_log.txt, 10 bytes\n")) << show.out;
    EXPECT_NE(std::string::npos, show.out.find("\\x1B[2JSecond report\nmore\n")) << show.out;
    EXPECT_EQ(std::string::npos, show.out.find('\x1b')) << "a control byte reached the terminal";

    const std::string out = folder.Path() + "/export";
    ProgramResult exported = RunServer({"export", "--data", data, "1", out});
    EXPECT_EQ(0, exported.exitStatus) << exported.err;
    EXPECT_EQ(3, CountLines(exported.out)) << exported.out;
    EXPECT_EQ(first.dxdiag.bytes, ReadFile(out + "/user_info.txt"));
    EXPECT_EQ(first.log.bytes.substr(0, 1000), ReadFile(out + "/brevora_log.txt"));
    const std::string text = ReadFile(out + "/report.txt");
    EXPECT_NE(std::string::npos, text.find(first.description1)) << "texts keep their CR LF in report.txt";
    EXPECT_NE(std::string::npos, text.find("Component:    Library\\x0D\n")) << text;
    EXPECT_NE(std::string::npos, text.find(firstSection + "\n")) << text;
    EXPECT_EQ(std::string::npos, text.find("Element=")) << "the component's line is not part of the section";

    ProgramResult unknown = RunServer({"show", "--data", data, "3"});
    EXPECT_EQ(1, unknown.exitStatus);
    EXPECT_NE(std::string::npos, unknown.err.find("no report with id 3")) << unknown.err;
    ProgramResult unknownExport = RunServer({"export", "--data", data, "99", out});
    EXPECT_EQ(1, unknownExport.exitStatus);
}

// A 201 means committed: a server killed right after it still has the report.
TEST(ServerCommandLine, KeepsAnAnsweredReportWhenKilled)
{
    TempFolder folder;
    std::mt19937 rng(9);
    ServerProcess server;
    ASSERT_TRUE(server.Start({"--data", folder.Path(), "--listen", "127.0.0.1:0"})) << server.Stderr();
    httplib::Result result = PostReport(server.Port(), EncodeReport(MakeRealisticReport(rng, 300 * 1024)));
    ASSERT_TRUE(result);
    ASSERT_EQ(201, result->status);
    server.Stop(SIGKILL);

    ProgramResult list = RunServer({"list", "--data", folder.Path()});
    EXPECT_EQ(0, list.exitStatus) << list.err;
    EXPECT_EQ(1, CountLines(list.out)) << list.out;
}

// A database of the first schema, which had no component, as an older
// server left it: opened by show or serve, it gains the column.
TEST(ServerCommandLine, AddsTheComponentToAnOlderDatabase)
{
    TempFolder folder;
    sqlite3* raw = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open((folder.Path() + "/reports.db").c_str(), &raw));
    SqliteDatabase db(raw);
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(db.get(),
        "PRAGMA journal_mode = WAL;"
        "CREATE TABLE reports (id INTEGER PRIMARY KEY AUTOINCREMENT, received_utc TEXT NOT NULL,"
        " peer TEXT NOT NULL, user_agent TEXT NOT NULL, email BLOB NOT NULL, description1 BLOB NOT NULL,"
        " description2 BLOB NOT NULL, description3 BLOB NOT NULL, system_info BLOB NOT NULL,"
        " attachment_name BLOB NOT NULL, attachment BLOB NOT NULL, attachment_state TEXT NOT NULL,"
        " attachment_log_name BLOB NOT NULL, attachment_log BLOB NOT NULL,"
        " attachment_log_state TEXT NOT NULL, raw_body BLOB NOT NULL);"
        "PRAGMA user_version = 1;"
        "INSERT INTO reports VALUES (1, '2024-05-01T12:00:00.000Z', '127.0.0.1:1', 'Brevora Bug Reporter',"
        " x'', 'Old steps', 'b', 'c', 'PATH=a', 'user_info.txt', x'', 'placeholder', 'brevora_log.txt',"
        " x'', 'placeholder', 'raw');",
        nullptr, nullptr, nullptr));
    db = SqliteDatabase();

    ProgramResult old = RunServer({"show", "--data", folder.Path(), "1"});
    EXPECT_EQ(0, old.exitStatus) << old.err;
    EXPECT_NE(std::string::npos, old.out.find("Component:    (none)\n")) << old.out;
    EXPECT_NE(std::string::npos, old.out.find("Old steps")) << old.out;

    std::mt19937 rng(10);
    ReportInput input = MakeRealisticReport(rng, 100);
    input.systemInfo += "\nElement=Player";
    ServerProcess server;
    ASSERT_TRUE(server.Start({"--data", folder.Path(), "--listen", "127.0.0.1:0"})) << server.Stderr();
    httplib::Result result = PostReport(server.Port(), EncodeReport(input));
    ASSERT_TRUE(result);
    EXPECT_EQ("2\n", result->body);
    EXPECT_EQ(0, server.Stop(SIGTERM));

    ProgramResult added = RunServer({"show", "--data", folder.Path(), "2"});
    EXPECT_NE(std::string::npos, added.out.find("Component:    Player\n")) << added.out;
    ProgramResult list = RunServer({"list", "--data", folder.Path()});
    EXPECT_EQ(2, CountLines(list.out)) << list.out;
}

}  // namespace
