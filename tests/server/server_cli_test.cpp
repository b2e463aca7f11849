// The real executable: help, errors and exit statuses, serve with its log
// and signals, and list, show and export of what it stored.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <time.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "server/store/compression.h"
#include "server/store/postgres_handles.h"
#include <sqlite3.h>

#include "server/store/sqlite_handles.h"
#include "tests/server/report_factory.h"
#include "tests/server/server_process.h"
#include "tests/server/temp_folder.h"
#include "tests/server/test_certificates.h"
#include "tests/server/test_postgres.h"

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

std::vector<std::string> Join(std::vector<std::string> first, const std::vector<std::string>& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// The commands that store and read reports, on each store.
class StoreCommandTest : public ::testing::TestWithParam<StoreKind>
{
protected:
    // The store of a test whose data folder is dataDir (serve makes it).
    TestStore MakeStore(const std::string& dataDir)
    {
        TestStore store;
        std::string error;
        EXPECT_TRUE(PrepareTestStore(GetParam(), dataDir, store, error)) << error;
        return store;
    }
};

TEST(ServerCommandLine, PrintsHelpForEachCommand)
{
    const std::vector<std::vector<std::string>> rows = {
        {"--help"}, {"serve", "--help"}, {"list", "-h"}, {"show", "--help"}, {"export", "--help"},
        {"prune", "--help"}, {"forget", "--help"}, {"user", "--help"}};
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
        {"EndOfOptionsThenNegativeId", {"show", "--data", folder.Path(), "--", "-1"}, 2, "bad report id '-1'"},
        {"FlagGivenAValue", {"serve", "--data", data, "--listen", "127.0.0.1:0", "--fail-uploads=1"}, 2,
         "unknown option '--fail-uploads' for serve"},
        {"AllOnShow", {"show", "--data", folder.Path(), "--all", "1"}, 2, "unknown option '--all' for show"},
        {"RawOnExport", {"export", "--data", folder.Path(), "--raw", "1", data}, 2, "unknown option '--raw' for export"},
        {"ExportAllWithId", {"export", "--data", folder.Path(), "--all", "1", data}, 2, "export --all needs one output"},
        {"ExportAllWithoutDatabase", {"export", "--data", folder.Path(), "--all", data}, 1, "no report database in"},
        {"ListWithoutStore", {"list"}, 2, "list needs --data DIR or --database URL"},
        {"ServeWithoutDataFolder", {"serve", "--database", "postgresql:///x"}, 2, "serve needs --data DIR"},
        {"InterfaceOnUnreachablePostgres",
         {"serve", "--data", data, "--database", "postgresql:///none?host=" + folder.Path(), "--admin-listen",
          "127.0.0.1:0"},
         1, "cannot connect to PostgreSQL"},
        {"AccountsOnUnreachablePostgres", {"user", "list", "--database", "postgresql:///none?host=" + folder.Path()}, 1,
         "cannot connect to PostgreSQL"},
        {"AccountsWithoutStore", {"user", "list"}, 2, "user needs --data DIR or --database URL"},
        {"DatabaseNotPostgres", {"list", "--database", "mysql://localhost/reports"}, 2, "bad --database"},
        {"PostgresUnreachable", {"list", "--database", "postgresql:///none?host=" + folder.Path()}, 1,
         "cannot connect to PostgreSQL"},
        {"PruneWithoutDays", {"prune", "--data", folder.Path()}, 2, "prune needs --older-than DAYS"},
        {"PruneBadDays", {"prune", "--data", folder.Path(), "--older-than", "ten"}, 2, "bad --older-than 'ten'"},
        {"PruneWithoutDatabase", {"prune", "--data", folder.Path(), "--older-than", "1"}, 1, "no report database in"},
        {"ForgetWithoutAddress", {"forget", "--data", folder.Path()}, 2, "forget needs --email ADDRESS"},
        {"ForgetWithId", {"forget", "--data", folder.Path(), "--email", "a@b.c", "1"}, 2, "unexpected argument '1'"},
        {"InterfaceInTheClearOffLoopback", {"serve", "--data", data, "--admin-listen", "0.0.0.0:0"}, 1,
         "the maintainers' interface would listen on 0.0.0.0:0 without TLS"},
        {"TrustedProxyBadPrefix", {"serve", "--data", data, "--trusted-proxy", "10.0.0.0/33"}, 2,
         "--trusted-proxy: bad prefix length in '10.0.0.0/33'"},
        {"TrustedProxyName", {"serve", "--data", data, "--trusted-proxy", "proxy.local"}, 2, "bad address 'proxy.local'"},
        {"SessionLifetimeZero", {"serve", "--data", data, "--session-lifetime", "0"}, 2, "bad --session-lifetime '0'"},
        {"NoHeaderLines", {"serve", "--data", data, "--max-header-lines", "0"}, 2, "bad --max-header-lines '0'"},
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
                              "--tls-key", tls + "/server.key", "--admin-listen", "127.0.0.1:0"}))
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

    // The maintainers' interface takes the same certificate, and its
    // cookies go over HTTPS only.
    const std::string marker = "maintainers' interface at https://127.0.0.1:";
    const std::string log = server.Stderr();
    ASSERT_NE(std::string::npos, log.find(marker)) << log;
    const int adminPort = std::stoi(log.substr(log.find(marker) + marker.size()));
    httplib::SSLClient admin("127.0.0.1", adminPort);
    admin.set_ca_cert_path((tls + "/ca.pem").c_str());
    admin.enable_server_certificate_verification(true);
    httplib::Result login = admin.Get("/login");
    ASSERT_TRUE(login) << httplib::to_string(login.error());
    EXPECT_EQ(200, login->status);
    const std::string cookie = login->get_header_value("Set-Cookie");
    EXPECT_NE(std::string::npos, cookie.find("; HttpOnly; SameSite=Strict; Secure")) << cookie;
    httplib::Client plainAdmin("127.0.0.1", adminPort);
    httplib::Result plainLogin = plainAdmin.Get("/login");
    EXPECT_FALSE(plainLogin && plainLogin->status == 200) << "plain HTTP on the interface's HTTPS port";
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
TEST_P(StoreCommandTest, ServesThenListsShowsAndExports)
{
    TempFolder folder;
    const std::string data = folder.Path() + "/new/data";  // made by serve
    const TestStore store = MakeStore(data);
    std::mt19937 rng(8);
    ReportInput first = MakeRealisticReport(rng, 200 * 1024);
    first.log.bytes[1000] = '\0';  // travels as the first 1000 bytes only
    const std::string firstSection = first.systemInfo;
    first.systemInfo += "\nElement=Library\r";  // the component, as the server's list had it
    ReportInput second = MakeRealisticReport(rng, 10);
    second.email = "";
    second.description1 = "\x1b[2JSecond report\r\nmore";
    second.dxdiag.kind = FileInput::Missing;
    second.logName = "-rf $(id).log";

    ServerProcess server;
    ASSERT_TRUE(server.Start(Join(store.ServeArgs(), {"--listen", "127.0.0.1:0"}))) << server.Stderr();
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
    ASSERT_TRUE(again.Start(Join(store.ServeArgs(), {"--listen", "127.0.0.1:0"}))) << again.Stderr();
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

    ProgramResult list = RunServer(Join({"list"}, store.ReadArgs()));
    EXPECT_EQ(0, list.exitStatus) << list.err;
    ASSERT_EQ(2, CountLines(list.out)) << list.out;
    EXPECT_EQ(0u, list.out.find("1\tbug\t")) << list.out;
    EXPECT_NE(std::string::npos, list.out.find("\ttester@example.com\t1. Start Brevora\n")) << list.out;
    EXPECT_NE(std::string::npos, list.out.find("\n2\tbug\t")) << list.out;
    EXPECT_NE(std::string::npos, list.out.find("\t-\t\\x1B[2JSecond report\n")) << list.out;

    ProgramResult show = RunServer(Join({"show"}, Join(store.ReadArgs(), {"2"})));
    EXPECT_EQ(0, show.exitStatus) << show.err;
    EXPECT_NE(std::string::npos, show.out.find("User agent:   Brevora Bug Reporter\n")) << show.out;
    EXPECT_NE(std::string::npos, show.out.find("E-mail:       (none)\n")) << show.out;
    EXPECT_NE(std::string::npos, show.out.find("Component:    (none)\n")) << "sent without one: " << show.out;
    EXPECT_NE(std::string::npos, show.out.find("Attachment:   user_info.txt, no content (the file was empty or missing"))
        << show.out;
    EXPECT_NE(std::string::npos, show.out.find("Log:          -rf $(id).log, 10 bytes\n")) << show.out;
    EXPECT_NE(std::string::npos, show.out.find("\\x1B[2JSecond report\nmore\n")) << show.out;
    EXPECT_EQ(std::string::npos, show.out.find('\x1b')) << "a control byte reached the terminal";

    const std::string out = folder.Path() + "/export";
    ProgramResult exported = RunServer(Join({"export"}, Join(store.ReadArgs(), {"1", out})));
    EXPECT_EQ(0, exported.exitStatus) << exported.err;
    EXPECT_EQ(3, CountLines(exported.out)) << exported.out;
    EXPECT_EQ(first.dxdiag.bytes, ReadFile(out + "/user_info.txt"));
    EXPECT_EQ(first.log.bytes.substr(0, 1000), ReadFile(out + "/brevora_log.txt"));
    const std::string text = ReadFile(out + "/report.txt");
    EXPECT_NE(std::string::npos, text.find(first.description1)) << "texts keep their CR LF in report.txt";
    EXPECT_NE(std::string::npos, text.find("Component:    Library\\x0D\n")) << text;
    EXPECT_NE(std::string::npos, text.find(firstSection + "\n")) << text;
    EXPECT_EQ(std::string::npos, text.find("Element=")) << "the component's line is not part of the section";

    // Exported under a name safe in a shell; report.txt keeps the one sent.
    ProgramResult exportedSecond = RunServer(Join({"export"}, Join(store.ReadArgs(), {"2", out + "2"})));
    EXPECT_EQ(0, exportedSecond.exitStatus) << exportedSecond.err;
    EXPECT_EQ(second.log.bytes, ReadFile(out + "2/rf___id_.log"));
    EXPECT_NE(std::string::npos, ReadFile(out + "2/report.txt").find("-rf $(id).log")) << exportedSecond.out;

    ProgramResult unknown = RunServer(Join({"show"}, Join(store.ReadArgs(), {"3"})));
    EXPECT_EQ(1, unknown.exitStatus);
    EXPECT_NE(std::string::npos, unknown.err.find("no report with id 3")) << unknown.err;
    ProgramResult unknownExport = RunServer(Join({"export"}, Join(store.ReadArgs(), {"99", out})));
    EXPECT_EQ(1, unknownExport.exitStatus);
}

struct StoredRow
{
    const char* name;
    ReportInput input;
    const char* attachmentState;
    std::string attachment;
    const char* logState;
    std::string log;
    std::string systemInfo;  // as stored, when the component line was taken out
    std::string component;
};

std::vector<std::string> ListFolder(const std::string& path)
{
    std::vector<std::string> names;
    for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// export --all, as the reporter's end-to-end tests read the store: every
// field of every report byte for byte, one folder per report, while the
// server runs.
TEST_P(StoreCommandTest, ExportsEveryStoredFieldOfEveryReport)
{
    std::mt19937 rng(10);
    std::vector<StoredRow> rows(3);
    rows[0].name = "BinaryEverywhere";  // every byte value but NUL, CR LF among them
    rows[0].input.email = MakeRandomBytes(rng, 30, true);
    rows[0].input.description1 = MakeRandomBytes(rng, 300, true);
    rows[0].input.description2 = MakeRandomBytes(rng, 301, true);
    rows[0].input.description3 = MakeRandomBytes(rng, 302, true);
    rows[0].input.systemInfo = MakeRandomBytes(rng, 303, true);
    rows[0].input.attachmentName = "r\xE9sum\xE9 #1.txt";
    rows[0].input.dxdiag = MakePresentFile(MakeRandomBytes(rng, 5000, true));
    rows[0].input.log = MakePresentFile(std::string("log\0tail", 8));
    rows[0].attachmentState = "content";
    rows[0].attachment = rows[0].input.dxdiag.bytes;
    rows[0].logState = "content";
    rows[0].log = "log";
    rows[1].name = "NoFiles";
    rows[1].input.dxdiag.kind = FileInput::Missing;
    rows[1].input.log.kind = FileInput::Unreadable;
    rows[1].attachmentState = "placeholder";
    rows[1].logState = "empty";
    rows[2].name = "FilesWithoutContent";
    rows[2].input.description1 = "one line";
    rows[2].input.systemInfo = "PATH=C:\\Windows\nElement=Library\r";  // the component rides last
    rows[2].systemInfo = "PATH=C:\\Windows";
    rows[2].component = "Library\r";
    rows[2].input.dxdiag = MakePresentFile("");
    rows[2].input.log = MakePresentFile(std::string("\0abc", 4));
    rows[2].attachmentState = "placeholder";
    rows[2].logState = "empty";

    TempFolder folder;
    const std::string data = folder.Path() + "/data";
    const std::string out = folder.Path() + "/out";
    const TestStore store = MakeStore(data);
    ServerProcess server;
    ASSERT_TRUE(server.Start(Join(store.ServeArgs(), {"--listen", "127.0.0.1:0"}))) << server.Stderr();

    ProgramResult none = RunServer(Join({"export"}, Join(store.ReadArgs(), {"--all", out})));
    EXPECT_EQ(0, none.exitStatus) << none.err;
    EXPECT_EQ("", none.out);
    ASSERT_TRUE(std::filesystem::is_directory(out));
    EXPECT_TRUE(ListFolder(out).empty());

    for (const StoredRow& row : rows) {
        httplib::Result result = PostReport(server.Port(), EncodeReport(row.input));
        ASSERT_TRUE(result) << row.name;
        ASSERT_EQ(201, result->status) << row.name;
    }
    ProgramResult exported = RunServer(Join({"export"}, Join(store.ReadArgs(), {"--all", out})));
    EXPECT_EQ(0, exported.exitStatus) << exported.err;
    EXPECT_EQ(out + "/1\n" + out + "/2\n" + out + "/3\n", exported.out);
    ProgramResult list = RunServer(Join({"list"}, store.ReadArgs()));
    const std::string crashBody = EncodeCrashReport("It froze\r\n", MakeRandomBytes(rng, 4000, true), "log", "");
    httplib::Result crash = httplib::Client("127.0.0.1", server.Port()).Post("/bugreport/crash/", crashBody, kFormType);
    ASSERT_TRUE(crash);
    EXPECT_EQ("4\n", crash->body);
    EXPECT_EQ(0, server.Stop(SIGTERM));

    // show --raw: the body as posted, of either kind.
    for (size_t i = 0; i <= rows.size(); ++i) {
        const std::string id = std::to_string(i + 1);
        const std::string body = i < rows.size() ? EncodeReport(rows[i].input) : crashBody;
        ProgramResult raw = RunServer(Join({"show", "--raw"}, Join(store.ReadArgs(), {id})));
        EXPECT_EQ(0, raw.exitStatus) << raw.err;
        EXPECT_TRUE(body == raw.out) << "report " << id << ": " << raw.out.size() << " bytes, expected "
                                     << body.size();
    }

    std::istringstream listLines(list.out);
    for (size_t i = 0; i < rows.size(); ++i) {
        const StoredRow& row = rows[i];
        SCOPED_TRACE(row.name);
        std::string listLine;
        ASSERT_TRUE(std::getline(listLines, listLine)) << list.out;
        const size_t utcStart = listLine.find('\t', listLine.find('\t') + 1) + 1;
        const std::string id = std::to_string(i + 1);
        const std::map<std::string, std::string> expected = {
            {"kind", "bug"},
            {"received_utc", listLine.substr(utcStart, listLine.find('\t', utcStart) - utcStart)},
            {"peer", ""},  // compared below: the port is the client's
            {"user_agent", "Brevora Bug Reporter"},
            {"email", row.input.email},
            {"description1", row.input.description1},
            {"description2", row.input.description2},
            {"description3", row.input.description3},
            {"system_info", row.systemInfo.empty() ? row.input.systemInfo : row.systemInfo},
            {"component", row.component},
            {"version", ""},    // bodies as reporters sent them before the version
            {"code_page", ""},
            {"attachment_name", row.input.attachmentName},
            {"attachment", row.attachment},
            {"attachment_state", row.attachmentState},
            {"attachment_log_name", row.input.logName},
            {"attachment_log", row.log},
            {"attachment_log_state", row.logState},
            {"raw_body", EncodeReport(row.input)},
        };
        std::vector<std::string> names;
        for (const auto& field : expected)
            names.push_back(field.first);
        EXPECT_EQ(names, ListFolder(out + "/" + id));
        EXPECT_EQ(0u, listLine.find(id + "\tbug\t" + expected.at("received_utc") + "\t")) << listLine;
        for (const auto& field : expected) {
            const std::string stored = ReadFile(out + "/" + id + "/" + field.first);
            if (field.first == "peer")
                EXPECT_EQ(0u, stored.find("127.0.0.1:")) << stored;
            else
                EXPECT_TRUE(field.second == stored) << field.first << ": " << stored.size() << " bytes, expected "
                                                    << field.second.size();
        }
    }
}

// A database made before crash reports existed opens, keeps its report and
// takes crash reports beside it, which list, show and export tell apart.
TEST(ServerCommandLine, AddsCrashReportsToADatabaseOfTheFirstSchema)
{
    TempFolder folder;
    const std::string data = folder.Path();
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(SQLITE_OK, sqlite3_open((data + "/reports.db").c_str(), &db));
        // The first schema, as servers before crash reports made it.
        const char* firstSchema =
            "CREATE TABLE reports (id INTEGER PRIMARY KEY AUTOINCREMENT, received_utc TEXT NOT NULL,"
            " peer TEXT NOT NULL, user_agent TEXT NOT NULL, email BLOB NOT NULL, description1 BLOB NOT NULL,"
            " description2 BLOB NOT NULL, description3 BLOB NOT NULL, system_info BLOB NOT NULL,"
            " attachment_name BLOB NOT NULL, attachment BLOB NOT NULL, attachment_state TEXT NOT NULL,"
            " attachment_log_name BLOB NOT NULL, attachment_log BLOB NOT NULL, attachment_log_state TEXT NOT NULL,"
            " raw_body BLOB NOT NULL);"
            "INSERT INTO reports VALUES (NULL, '2024-01-01T00:00:00.000Z', '127.0.0.1:1', 'old', 'old@example.com',"
            " 'Old report', '', '', '', 'user_info.txt', '', 'placeholder', 'brevora_log.txt', '', 'placeholder', '');"
            "PRAGMA user_version = 1;";
        EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, firstSchema, nullptr, nullptr, nullptr)) << sqlite3_errmsg(db);
        sqlite3_close(db);
    }

    std::mt19937 rng(11);
    const std::string dump = MakeRandomBytes(rng, 3000, false);
    const std::string log = "first\nsecond\n";
    const std::string conf = "[video]\n";
    ServerProcess server;
    ASSERT_TRUE(server.Start({"--data", data, "--listen", "127.0.0.1:0"})) << server.Stderr();
    httplib::Result crash =
        httplib::Client("127.0.0.1", server.Port())
            .Post("/bugreport/crash/", EncodeCrashReport("It froze\r\nwhile seeking", dump, log, conf), kFormType);
    ASSERT_TRUE(crash);
    EXPECT_EQ("2\n", crash->body);
    EXPECT_EQ(0, server.Stop(SIGTERM));
    EXPECT_EQ(1, CountOccurrences(server.Stderr(), " POST /bugreport/crash/ 201 ")) << server.Stderr();

    ProgramResult list = RunServer({"list", "--data", data});
    EXPECT_EQ(0, list.exitStatus) << list.err;
    EXPECT_EQ(0u, list.out.find("1\tbug\t2024-01-01T00:00:00.000Z\told@example.com\tOld report\n2\tcrash\t"))
        << list.out;
    EXPECT_NE(std::string::npos, list.out.find("\t-\tIt froze\n")) << list.out;

    ProgramResult show = RunServer({"show", "--data", data, "2"});
    EXPECT_EQ(0, show.exitStatus) << show.err;
    EXPECT_NE(std::string::npos, show.out.find("Crash report: 2\n")) << show.out;
    EXPECT_NE(std::string::npos, show.out.find("Dump:         brevora.dmp, 3000 bytes\n")) << show.out;
    EXPECT_NE(std::string::npos, show.out.find("It froze\nwhile seeking\n")) << show.out;

    const std::string out = folder.Path() + "/export";
    ProgramResult exported = RunServer({"export", "--data", data, "2", out});
    EXPECT_EQ(0, exported.exitStatus) << exported.err;
    EXPECT_EQ((std::vector<std::string>{"brevora.conf", "brevora.dmp", "brevora.log", "report.txt"}), ListFolder(out));
    EXPECT_TRUE(dump == ReadFile(out + "/brevora.dmp"));
    EXPECT_EQ(log, ReadFile(out + "/brevora.log"));
    EXPECT_EQ(conf, ReadFile(out + "/brevora.conf"));

    const std::string all = folder.Path() + "/all";
    ProgramResult everything = RunServer({"export", "--data", data, "--all", all});
    EXPECT_EQ(all + "/1\n" + all + "/2\n", everything.out) << everything.err;
    EXPECT_EQ("bug", ReadFile(all + "/1/kind"));
    EXPECT_EQ("Old report", ReadFile(all + "/1/description1"));
    EXPECT_EQ("crash", ReadFile(all + "/2/kind"));
    EXPECT_EQ(16u, ListFolder(all + "/2").size());  // the kind and every column, the version included
    EXPECT_TRUE(dump == ReadFile(all + "/2/attachment_dump"));
    EXPECT_EQ("content", ReadFile(all + "/2/attachment_conf_state"));
}

// A 201 means committed: a server killed right after it still has the report.
TEST_P(StoreCommandTest, KeepsAnAnsweredReportWhenKilled)
{
    TempFolder folder;
    std::mt19937 rng(9);
    const TestStore store = MakeStore(folder.Path());
    ServerProcess server;
    ASSERT_TRUE(server.Start(Join(store.ServeArgs(), {"--listen", "127.0.0.1:0"}))) << server.Stderr();
    httplib::Result result = PostReport(server.Port(), EncodeReport(MakeRealisticReport(rng, 300 * 1024)));
    ASSERT_TRUE(result);
    ASSERT_EQ(201, result->status);
    server.Stop(SIGKILL);

    ServerProcess restarted;
    ASSERT_TRUE(restarted.Start(Join(store.ServeArgs(), {"--listen", "127.0.0.1:0"}))) << restarted.Stderr();
    ProgramResult list = RunServer(Join({"list"}, store.ReadArgs()));
    EXPECT_EQ(0, restarted.Stop(SIGTERM));
    EXPECT_EQ(0, list.exitStatus) << list.err;
    EXPECT_EQ(1, CountLines(list.out)) << list.out;
}


// Sets the received time of report id, as if it had come days ago: the
// only way to have old reports without waiting.
void BackdateReport(const TestStore& store, int64_t id, int days)
{
    const time_t then = time(nullptr) - static_cast<time_t>(days) * 86400;
    struct tm utc;
    gmtime_r(&then, &utc);
    char received[32];
    std::strftime(received, sizeof received, "%Y-%m-%dT%H:%M:%S.000Z", &utc);
    const std::string sql =
        "UPDATE reports SET received_utc = '" + std::string(received) + "' WHERE id = " + std::to_string(id);
    if (store.kind == StoreKind::Sqlite) {
        sqlite3* db = nullptr;
        ASSERT_EQ(SQLITE_OK, sqlite3_open((store.dataDir + "/reports.db").c_str(), &db));
        SqliteDatabase owned(db);
        sqlite3_busy_timeout(db, 10000);
        ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr)) << sqlite3_errmsg(db);
        ASSERT_EQ(1, sqlite3_changes(db));
    } else {
        PostgresConnection connection(PQconnectdb(store.databaseUrl.c_str()));
        PostgresResult result(PQexec(connection.get(), sql.c_str()));
        ASSERT_EQ(PGRES_COMMAND_OK, PQresultStatus(result.get())) << PQerrorMessage(connection.get());
        ASSERT_STREQ("1", PQcmdTuples(result.get()));
    }
}

// Each report's raw_body as export --all writes it, by id.
std::map<std::string, std::string> ExportRawBodies(const TestStore& store, const std::string& out)
{
    std::map<std::string, std::string> bodies;
    ProgramResult exported = RunServer(Join({"export"}, Join(store.ReadArgs(), {"--all", out})));
    EXPECT_EQ(0, exported.exitStatus) << exported.err;
    std::istringstream folders(exported.out);
    std::string folder;
    while (std::getline(folders, folder))
        bodies[folder.substr(folder.rfind('/') + 1)] = ReadFile(folder + "/raw_body");
    std::filesystem::remove_all(out);
    return bodies;
}

struct RemovalRow
{
    const char* name;
    std::vector<std::string> command;  // after the store's options
    std::vector<std::string> removed;  // ids
};

// prune and forget remove exactly their reports, print them, and leave the
// others whole; the store goes on taking reports.
TEST_P(StoreCommandTest, PrunesAndForgetsExactlyTheirReports)
{
    // Report i+1: e-mail and age in days.
    const struct
    {
        const char* email;
        int days;
    } reports[] = {
        {"tester@example.com", 40}, {"other@example.com", 40},         {"Tester@Example.COM", 10},
        {"", 31},                   {"tester@example.com.au", 0},       {"tester@example.com", 0},
    };
    const RemovalRow rows[] = {
        {"NothingThatOld", {"prune", "--older-than", "60"}, {}},
        {"OlderThan30Days", {"prune", "--older-than", "30"}, {"1", "2", "4"}},
        {"AnAddressWithoutCase", {"forget", "--email", "TESTER@example.com"}, {"3", "6"}},
        {"AnAddressNoLongerThere", {"forget", "--email", "tester@example.com"}, {}},
    };

    TempFolder folder;
    const TestStore store = MakeStore(folder.Path() + "/data");
    ServerProcess server;
    ASSERT_TRUE(server.Start(Join(store.ServeArgs(), {"--listen", "127.0.0.1:0", "--rate-limit", "off"})))
        << server.Stderr();
    std::mt19937 rng(11);
    std::map<std::string, std::string> kept;  // id: body
    for (size_t i = 0; i < sizeof reports / sizeof reports[0]; ++i) {
        ReportInput input = MakeRealisticReport(rng, 20000);
        input.email = reports[i].email;
        const std::string body = EncodeReport(input);
        httplib::Result result = PostReport(server.Port(), body);
        ASSERT_TRUE(result);
        ASSERT_EQ(201, result->status);
        const std::string id = std::to_string(i + 1);
        ASSERT_EQ(id + "\n", result->body);
        kept[id] = body;
        if (reports[i].days > 0)
            BackdateReport(store, static_cast<int64_t>(i + 1), reports[i].days);
    }

    for (const RemovalRow& row : rows) {
        SCOPED_TRACE(row.name);
        ProgramResult removal =
            RunServer(Join({row.command[0]}, Join(store.ReadArgs(), {row.command[1], row.command[2]})));
        EXPECT_EQ(0, removal.exitStatus) << removal.err;
        std::string expected;
        for (const std::string& id : row.removed) {
            expected += "removed\t" + id + "\t";
            kept.erase(id);
        }
        std::istringstream lines(removal.out);
        std::string line;
        std::string printed;
        while (std::getline(lines, line)) {
            if (line.compare(0, 8, "removed\t") == 0)
                printed += line.substr(0, line.find('\t', 8) + 1);
        }
        EXPECT_EQ(expected, printed) << removal.out;
        EXPECT_NE(std::string::npos,
                  ("\n" + removal.out).find("\n" + std::to_string(row.removed.size()) +
                                   (row.removed.size() == 1 ? " report removed" : " reports removed")))
            << removal.out;
        EXPECT_EQ(kept, ExportRawBodies(store, folder.Path() + "/out"));
    }

    httplib::Result after = PostReport(server.Port(), EncodeReport(MakeRealisticReport(rng, 100)));
    ASSERT_TRUE(after);
    EXPECT_EQ("7\n", after->body);
    EXPECT_EQ(0, server.Stop(SIGTERM));
}

INSTANTIATE_TEST_SUITE_P(BothStores, StoreCommandTest, ::testing::ValuesIn(kBothStores),
                         [](const ::testing::TestParamInfo<StoreKind>& info) { return NameStoreKind(info.param); });

// Servers behind one load balancer: every report stored once under its own
// id, and each server's list shows the other's reports too.
TEST(PostgresStore, TwoServersTakeUploadsIntoOneDatabase)
{
    const int kClientsPerServer = 4;
    const int kReportsPerClient = 5;
    TempFolder folder;
    std::string error;
    const std::string url = MakeTestDatabase(error);
    ASSERT_FALSE(url.empty()) << error;
    ServerProcess servers[2];
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(servers[i].Start({"--data", folder.Path() + "/" + std::to_string(i), "--database", url,
                                      "--listen", "127.0.0.1:0", "--rate-limit", "off"}))
            << servers[i].Stderr();
    }

    std::mutex mutex;
    std::multiset<std::string> ids;
    std::vector<std::thread> clients;
    for (int c = 0; c < 2 * kClientsPerServer; ++c) {
        clients.emplace_back([&, c] {
            std::mt19937 rng(static_cast<unsigned>(c));
            for (int r = 0; r < kReportsPerClient; ++r) {
                ReportInput input = MakeRealisticReport(rng, 50000);
                input.email = "client" + std::to_string(c) + "." + std::to_string(r) + "@example.com";
                httplib::Result result = PostReport(servers[c % 2].Port(), EncodeReport(input));
                std::lock_guard<std::mutex> lock(mutex);
                ids.insert(result && result->status == 201 ? result->body : "failed");
            }
        });
    }
    for (std::thread& t : clients)
        t.join();
    const size_t total = 2 * kClientsPerServer * kReportsPerClient;
    EXPECT_EQ(0u, ids.count("failed"));
    EXPECT_EQ(total, std::set<std::string>(ids.begin(), ids.end()).size()) << "an id was given twice";

    ProgramResult list = RunServer({"list", "--database", url});
    EXPECT_EQ(0, list.exitStatus) << list.err;
    EXPECT_EQ(static_cast<int>(total), CountLines(list.out)) << list.out;
    for (int c = 0; c < 2 * kClientsPerServer; ++c) {
        for (int r = 0; r < kReportsPerClient; ++r) {
            const std::string email = "\tclient" + std::to_string(c) + "." + std::to_string(r) + "@example.com\t";
            EXPECT_EQ(1, CountOccurrences(list.out, email)) << email;
        }
    }
    for (ServerProcess& server : servers)
        EXPECT_EQ(0, server.Stop(SIGTERM));
}

// A database that the first server wrote (schema version 1: every field
// plain, the raw body beside them) comes through its migration whole. The
// fixture is that server's reports.db with three reports, zstd-compressed.
TEST(SqliteStore, MigratesADatabaseOfSchemaVersion1WithoutLoss)
{
    TempFolder folder;
    const std::string data = folder.Path() + "/data";
    std::filesystem::create_directories(data);
    std::string database;
    std::string error;
    ASSERT_TRUE(DecompressBytes(ReadFile(BREVORA_SERVER_FIXTURES "/schema1-reports.db.zst"), database, error)) << error;
    std::ofstream(data + "/reports.db", std::ios::binary) << database;

    // What version 1 holds, read as version 1 laid it out.
    std::vector<std::map<std::string, std::string>> before;
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(SQLITE_OK, sqlite3_open((data + "/reports.db").c_str(), &db));
        SqliteDatabase owned(db);
        sqlite3_stmt* raw = nullptr;
        ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(db, "SELECT * FROM reports ORDER BY id", -1, &raw, nullptr));
        SqliteStatement statement(raw);
        while (sqlite3_step(raw) == SQLITE_ROW) {
            std::map<std::string, std::string> row;
            for (int i = 0; i < sqlite3_column_count(raw); ++i) {
                const char* bytes = static_cast<const char*>(sqlite3_column_blob(raw, i));
                row[sqlite3_column_name(raw, i)] = std::string(bytes != nullptr ? bytes : "",
                                                               static_cast<size_t>(sqlite3_column_bytes(raw, i)));
            }
            before.push_back(row);
        }
    }
    ASSERT_EQ(3u, before.size());

    const std::string out = folder.Path() + "/out";
    ProgramResult exported = RunServer({"export", "--data", data, "--all", out});
    ASSERT_EQ(0, exported.exitStatus) << exported.err;
    for (const std::map<std::string, std::string>& row : before) {
        SCOPED_TRACE("report " + row.at("id"));
        std::vector<std::string> fields = ListFolder(out + "/" + row.at("id"));
        // Every column but the id, the kind and the columns added since, which
        // are empty.
        EXPECT_EQ(row.size() + 3, fields.size());
        EXPECT_EQ("bug", ReadFile(out + "/" + row.at("id") + "/kind"));
        const std::set<std::string> added = {"component", "version", "code_page"};
        for (const std::string& field : added)
            EXPECT_EQ("", ReadFile(out + "/" + row.at("id") + "/" + field)) << field;
        for (const std::string& field : fields) {
            if (field != "kind" && added.count(field) == 0) {
                EXPECT_TRUE(row.at(field) == ReadFile(out + "/" + row.at("id") + "/" + field)) << field;
            }
        }
    }

    // Still a working store: the next report follows the old ones.
    ServerProcess server;
    ASSERT_TRUE(server.Start({"--data", data, "--listen", "127.0.0.1:0"})) << server.Stderr();
    std::mt19937 rng(12);
    httplib::Result next = PostReport(server.Port(), EncodeReport(MakeRealisticReport(rng, 1000)));
    ASSERT_TRUE(next);
    EXPECT_EQ("4\n", next->body);
    EXPECT_EQ(0, server.Stop(SIGTERM));
    ProgramResult show = RunServer({"show", "--data", data, "1"});
    EXPECT_NE(std::string::npos, show.out.find("Raw body:     " + std::to_string(before[0].at("raw_body").size())))
        << show.out;
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

namespace {

TEST_P(StoreCommandTest, ManagesAccountsWithoutKeepingPasswords)
{
    TempFolder folder;
    const TestStore store = MakeStore(folder.Path());
    const std::vector<std::string> storeArgs = store.ReadArgs();
    const std::string secret = "unguessable-passphrase";
    const struct
    {
        std::vector<std::string> args;
        const char* input;
        int exitStatus;
        const char* out;
        const char* errPart;
    } steps[] = {
        {{"user", "list"}, nullptr, 0, "", ""},
        {{"user", "add", "ann"}, "unguessable-passphrase\n", 0, "added ann\n", ""},
        {{"user", "add", "bob"}, "unguessable-passphrase\r\n", 0, "added bob\n", ""},
        {{"user", "add", "ann"}, "another-passphrase\n", 1, "", "exists already"},
        {{"user", "add", "cy"}, "short\n", 1, "", "at least 8 characters"},
        {{"user", "add", "cy"}, nullptr, 1, "", "no password on standard input"},
        {{"user", "remove", "bob"}, nullptr, 0, "removed bob\n", ""},
        {{"user", "remove", "bob"}, nullptr, 1, "", "no account named 'bob'"},
    };
    for (const auto& step : steps) {
        std::vector<std::string> args = step.args;
        args.insert(args.begin() + (args.size() > 2 ? 2 : 1), storeArgs.begin(), storeArgs.end());
        SCOPED_TRACE(args[1] + " " + (step.args.size() > 2 ? step.args[2] : ""));
        const ProgramResult result = RunServerWithInput(args, step.input);
        EXPECT_EQ(step.exitStatus, result.exitStatus) << result.err;
        EXPECT_EQ(step.out, result.out);
        EXPECT_NE(std::string::npos, result.err.find(step.errPart)) << result.err;
    }
    const ProgramResult list = RunServer(Join({"user", "list"}, storeArgs));
    EXPECT_EQ(0u, list.out.find("ann\t20")) << list.out;
    EXPECT_EQ(1, CountLines(list.out));

    // Neither the database nor its log holds the password.
    if (GetParam() == StoreKind::Postgres) {
        PostgresConnection db(PQconnectdb(store.databaseUrl.c_str()));
        PostgresResult hashes(PQexec(db.get(), "SELECT string_agg(encode(name, 'escape') || hash, '') FROM admin_users"));
        ASSERT_EQ(PGRES_TUPLES_OK, PQresultStatus(hashes.get())) << PQerrorMessage(db.get());
        const std::string stored = PQgetvalue(hashes.get(), 0, 0);
        EXPECT_EQ(std::string::npos, stored.find(secret)) << stored;
        EXPECT_NE(std::string::npos, stored.find("$argon2id$")) << stored;
        return;
    }
    for (const char* file : {"/reports.db", "/reports.db-wal"})
        EXPECT_EQ(std::string::npos, ReadFile(folder.Path() + file).find(secret)) << file;
    EXPECT_NE(std::string::npos, ReadFile(folder.Path() + "/reports.db-wal").find("$argon2id$") +
                                     ReadFile(folder.Path() + "/reports.db").find("$argon2id$") + 1);
}

// The text between before and the next after; "" when not there.
std::string FindBetween(const std::string& text, const std::string& before, const std::string& after)
{
    const size_t start = text.find(before);
    const size_t end = start == std::string::npos ? start : text.find(after, start + before.size());
    return end == std::string::npos ? std::string() : text.substr(start + before.size(), end - start - before.size());
}

// A maintainer logged in to the interface at port: the session cookie and
// the CSRF token of its pages.
struct Maintainer
{
    std::string cookie;
    std::string csrf;
};

Maintainer LogIn(int port, const std::string& name, const std::string& password)
{
    httplib::Client client("127.0.0.1", port);
    Maintainer maintainer;
    httplib::Result form = client.Get("/login");
    if (!form)
        return maintainer;
    const std::string loginCookie = form->get_header_value("Set-Cookie");
    const httplib::Params fields = {{"csrf", FindBetween(form->body, "name=\"csrf\" value=\"", "\"")},
                                    {"name", name},
                                    {"password", password}};
    httplib::Result answer =
        client.Post("/login", {{"Cookie", loginCookie.substr(0, loginCookie.find(';'))}}, fields);
    if (!answer || answer->status != 303)
        return maintainer;
    const std::string session = answer->get_header_value("Set-Cookie");
    maintainer.cookie = session.substr(0, session.find(';'));
    httplib::Result overview = client.Get("/", {{"Cookie", maintainer.cookie}});
    maintainer.csrf = overview ? FindBetween(overview->body, "name=\"csrf\" value=\"", "\"") : std::string();
    return maintainer;
}

int FindAdminPort(const std::string& log)
{
    const std::string marker = "maintainers' interface at http://127.0.0.1:";
    const size_t at = log.find(marker);
    return at == std::string::npos ? 0 : std::stoi(log.substr(at + marker.size()));
}

// Two servers on one PostgreSQL database, each with its interface: the
// accounts, sessions, reports and triage of one are the other's.
TEST(PostgresStore, TwoServersShareTheMaintainersInterface)
{
    TempFolder folder;
    std::string error;
    const std::string url = MakeTestDatabase(error);
    ASSERT_FALSE(url.empty()) << error;
    const std::string password = "unguessable-passphrase";
    ProgramResult added = RunServerWithInput({"user", "add", "--database", url, "ann"}, (password + "\n").c_str());
    ASSERT_EQ(0, added.exitStatus) << added.err;
    ServerProcess servers[2];
    int adminPorts[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(servers[i].Start({"--data", folder.Path() + "/" + std::to_string(i), "--database", url,
                                      "--listen", "127.0.0.1:0", "--admin-listen", "127.0.0.1:0"}))
            << servers[i].Stderr();
        adminPorts[i] = FindAdminPort(servers[i].Stderr());
        ASSERT_NE(0, adminPorts[i]) << servers[i].Stderr();
    }
    ReportInput input;
    input.email = "ann@example.com";
    input.description2 = "Flickering thumbnails in the caf\xE9 view\x01\xFF";  // Latin-1, a control, no UTF-8
    httplib::Result posted = PostReport(servers[0].Port(), EncodeReport(input));
    ASSERT_TRUE(posted);
    ASSERT_EQ(201, posted->status);
    const std::string id = posted->body.substr(0, posted->body.find('\n'));
    const std::string link = "/reports/" + id + "\"";

    const Maintainer onA = LogIn(adminPorts[0], "ann", password);
    ASSERT_FALSE(onA.cookie.empty());
    ASSERT_FALSE(onA.csrf.empty());
    httplib::Client adminA("127.0.0.1", adminPorts[0]);
    httplib::Client adminB("127.0.0.1", adminPorts[1]);
    // A's session is B's too.
    httplib::Result found = adminB.Get("/reports?q=flicker", {{"Cookie", onA.cookie}});
    ASSERT_TRUE(found);
    EXPECT_EQ(200, found->status);
    EXPECT_NE(std::string::npos, found->body.find(link)) << "a report posted to A is in B's list";
    httplib::Result accented = adminB.Get("/reports?q=caf%C3%A9", {{"Cookie", onA.cookie}});
    ASSERT_TRUE(accented);
    EXPECT_NE(std::string::npos, accented->body.find(link)) << "an 8-bit byte is searched as Latin-1";

    httplib::Result triaged = adminA.Post("/reports/" + id + "/triage", {{"Cookie", onA.cookie}},
                                          httplib::Params{{"csrf", onA.csrf}, {"status", "triaged"}, {"note", "seen"}});
    ASSERT_TRUE(triaged);
    EXPECT_EQ(303, triaged->status);
    httplib::Result listed = adminB.Get("/reports?status=triaged", {{"Cookie", onA.cookie}});
    ASSERT_TRUE(listed);
    EXPECT_NE(std::string::npos, listed->body.find(link)) << "the triage set on A is seen on B";

    // Forgotten by the command: gone from both lists.
    ProgramResult forgotten = RunServer({"forget", "--database", url, "--email", input.email});
    EXPECT_EQ(0, forgotten.exitStatus) << forgotten.err;
    EXPECT_EQ(0u, forgotten.out.find("removed\t" + id + "\t")) << forgotten.out;
    for (httplib::Client* admin : {&adminA, &adminB}) {
        httplib::Result after = admin->Get("/reports", {{"Cookie", onA.cookie}});
        ASSERT_TRUE(after);
        EXPECT_EQ(std::string::npos, after->body.find(link));
    }
    for (ServerProcess& server : servers)
        EXPECT_EQ(0, server.Stop(SIGTERM));
}

TEST(ServerCommandLine, ServesTheInterfaceOnlyOnItsOwnListener)
{
    TempFolder folder;
    ServerProcess server;
    ASSERT_TRUE(server.Start({"--data", folder.Path(), "--listen", "127.0.0.1:0", "--admin-listen", "127.0.0.1:0"}))
        << server.Stderr();
    const std::string marker = "maintainers' interface at http://127.0.0.1:";
    const std::string log = server.Stderr();
    ASSERT_NE(std::string::npos, log.find(marker)) << log;
    const int adminPort = std::stoi(log.substr(log.find(marker) + marker.size()));

    httplib::Client admin("127.0.0.1", adminPort);
    httplib::Result login = admin.Get("/login");
    ASSERT_TRUE(login);
    EXPECT_EQ(200, login->status);
    // Plain HTTP: a Secure cookie would never come back.
    const std::string cookie = login->get_header_value("Set-Cookie");
    EXPECT_NE(std::string::npos, cookie.find("; HttpOnly; SameSite=Strict")) << cookie;
    EXPECT_EQ(std::string::npos, cookie.find("Secure")) << cookie;
    httplib::Result upload = admin.Post("/bugreport/report/", EncodeReport(ReportInput{}), kFormType);
    ASSERT_TRUE(upload);
    EXPECT_EQ(303, upload->status);
    httplib::Client reports("127.0.0.1", server.Port());
    httplib::Result page = reports.Get("/login");
    ASSERT_TRUE(page);
    EXPECT_EQ(404, page->status);
    EXPECT_EQ(0, server.Stop(SIGTERM));

    ServerProcess without;
    ASSERT_TRUE(without.Start({"--data", folder.Path(), "--listen", "127.0.0.1:0", "--no-admin"}));
    EXPECT_EQ(std::string::npos, without.Stderr().find("maintainers' interface"));
    EXPECT_EQ(0, without.Stop(SIGTERM));
}

}  // namespace
