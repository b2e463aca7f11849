// The real executable: help, errors and exit statuses, serve with its log
// and signals, and list, show and export of what it stored.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <sqlite3.h>

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
    const char* messagePart;
};

TEST(ServerCommandLine, FailsWithOneLineAndAnExitStatus)
{
    TempFolder folder;
    std::ofstream(folder.Path() + "/file") << "a file, not a folder";
    const std::string data = folder.Path() + "/data";

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
        {"ExportAllWithId", {"export", "--data", folder.Path(), "--all", "1", data}, 2, "export --all needs one output"},
        {"ExportAllWithoutDatabase", {"export", "--data", folder.Path(), "--all", data}, 1, "no report database in"},
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
    EXPECT_EQ(0u, list.out.find("1\tbug\t")) << list.out;
    EXPECT_NE(std::string::npos, list.out.find("\ttester@example.com\t1. Start Brevora\n")) << list.out;
    EXPECT_NE(std::string::npos, list.out.find("\n2\tbug\t")) << list.out;
    EXPECT_NE(std::string::npos, list.out.find("\t-\t\\x1B[2JSecond report\n")) << list.out;

    ProgramResult show = RunServer({"show", "--data", data, "2"});
    EXPECT_EQ(0, show.exitStatus) << show.err;
    EXPECT_NE(std::string::npos, show.out.find("User agent:   Brevora Bug Reporter\n")) << show.out;
    EXPECT_NE(std::string::npos, show.out.find("E-mail:       (none)\n")) << show.out;
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
    EXPECT_NE(std::string::npos, text.find(first.systemInfo));

    ProgramResult unknown = RunServer({"show", "--data", data, "3"});
    EXPECT_EQ(1, unknown.exitStatus);
    EXPECT_NE(std::string::npos, unknown.err.find("no report with id 3")) << unknown.err;
    ProgramResult unknownExport = RunServer({"export", "--data", data, "99", out});
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
TEST(ServerCommandLine, ExportsEveryStoredFieldOfEveryReport)
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
    rows[2].input.dxdiag = MakePresentFile("");
    rows[2].input.log = MakePresentFile(std::string("\0abc", 4));
    rows[2].attachmentState = "placeholder";
    rows[2].logState = "empty";

    TempFolder folder;
    const std::string data = folder.Path() + "/data";
    const std::string out = folder.Path() + "/out";
    ServerProcess server;
    ASSERT_TRUE(server.Start({"--data", data, "--listen", "127.0.0.1:0"})) << server.Stderr();

    ProgramResult none = RunServer({"export", "--data", data, "--all", out});
    EXPECT_EQ(0, none.exitStatus) << none.err;
    EXPECT_EQ("", none.out);
    ASSERT_TRUE(std::filesystem::is_directory(out));
    EXPECT_TRUE(ListFolder(out).empty());

    for (const StoredRow& row : rows) {
        httplib::Result result = PostReport(server.Port(), EncodeReport(row.input));
        ASSERT_TRUE(result) << row.name;
        ASSERT_EQ(201, result->status) << row.name;
    }
    ProgramResult exported = RunServer({"export", "--data", data, "--all", out});
    EXPECT_EQ(0, exported.exitStatus) << exported.err;
    EXPECT_EQ(out + "/1\n" + out + "/2\n" + out + "/3\n", exported.out);
    ProgramResult list = RunServer({"list", "--data", data});
    EXPECT_EQ(0, server.Stop(SIGTERM));

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
            {"system_info", row.input.systemInfo},
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
    EXPECT_EQ(15u, ListFolder(all + "/2").size());
    EXPECT_TRUE(dump == ReadFile(all + "/2/attachment_dump"));
    EXPECT_EQ("content", ReadFile(all + "/2/attachment_conf_state"));
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

}  // namespace
