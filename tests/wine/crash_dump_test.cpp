// Real crash dumps: crash_maker.exe crashes in each of its ways and writes
// its own minidump under Wine, and the native minidump_print reads it, once
// without the program's binary and once with it. Then the dumps go the way
// a user's do: through the reporter's crash mode, with no mail program, to
// the reference server, which files them into groups.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "res/resource.h"
#include "tests/wine/report_server_control.h"
#include "tests/wine/startup_support.h"
#include "tests/wine/test_support.h"

namespace {

// Between Wine's Z: drive and the Unix paths; the paths here are ASCII.
std::string SwapSlashes(std::string path, char from, char to)
{
    for (char& c : path)
        c = c == from ? to : c;
    return path;
}

// Runs crash_maker.exe HOW and returns its exit status; the dump goes to
// the test's work folder.
DWORD RunCrashMaker(const std::string& how, std::string& dump)
{
    dump = std::string(std::getenv("BREVORA_E2E_WORK")) + "/" + how + ".dmp";
    std::string output;
    DWORD status = 0xFFFFFFFF;
    RunAndCapture(GetBuiltFile(L"crash_maker.exe"), "crash_maker.exe " + how + " Z:" + SwapSlashes(dump, '/', '\\'),
                  output, status, 60000);
    return status;
}

// minidump_print's output for dump, with the program's binary or without.
std::string PrintDump(const std::string& dump, bool withBinary)
{
    std::wstring exe = GetBuiltFile(L"crash_maker.exe");
    std::string out = dump + (withBinary ? ".binary.txt" : ".txt");
    std::string script = std::string(std::getenv("BREVORA_MINIDUMP_PRINT")) + " '" + dump + "'" +
                         (withBinary ? " --binary '" + SwapSlashes(std::string(exe.begin() + 2, exe.end()), '\\', '/') + "'" : "");
    int status = 0;
    std::string error;
    if (!RunUnixShell(script + " > '" + out + "'", status, error) || status != 0)
        return "minidump_print failed: " + error;
    std::string windowsOut = "Z:" + SwapSlashes(out, '/', '\\');
    return ReadFileBytes(std::wstring(windowsOut.begin(), windowsOut.end()));
}

TEST(CrashDump, EachCrashIsReadWithItsReasonModuleAndStack)
{
    ASSERT_NE(nullptr, std::getenv("BREVORA_E2E_WORK"));
    ASSERT_NE(nullptr, std::getenv("BREVORA_MINIDUMP_PRINT"));
    struct Case
    {
        const char* how;
        const char* reason;
        const char* module;
        const char* signature;
    } cases[] = {
        {"null-read", "EXCEPTION_ACCESS_VIOLATION_READ", "crash_maker.exe+", "crash_maker.exe!CrashInnermost"},
        {"null-write", "EXCEPTION_ACCESS_VIOLATION_WRITE", "crash_maker.exe+", "crash_maker.exe!CrashInnermost"},
        {"library", "EXCEPTION_ACCESS_VIOLATION_READ", "msvcrt.dll+", "msvcrt | crash_maker.exe!CrashInnermost"},
        {"throw", "EXCEPTION_CXX", "kernelbase.dll+", "kernelbase | crash_maker.exe!RaiseUncaughtThrow()"},
        {"divide", "EXCEPTION_INT_DIVIDE_BY_ZERO", "crash_maker.exe+", "crash_maker.exe!CrashInnermost"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        std::string dump;
        ASSERT_EQ(10u, RunCrashMaker(c.how, dump));
        std::string bare = PrintDump(dump, false);
        EXPECT_NE(std::string::npos, bare.find("Reason:     " + std::string(c.reason) + " at ")) << bare;
        EXPECT_NE(std::string::npos, bare.find("Module:     " + std::string(c.module))) << bare;
        EXPECT_NE(std::string::npos, bare.find(", Wine wine-")) << bare;

        std::string full = PrintDump(dump, true);
        EXPECT_NE(std::string::npos, full.find("Signature:  " + std::string(c.reason) + " " + c.signature + "\n")) << full;
        size_t innermost = full.find(" CrashInnermost+"), middle = full.find(" CrashMiddle+");
        EXPECT_TRUE(innermost < middle && middle < full.find(" CrashOutermost+")) << full;
    }
}

std::wstring ToWindowsPath(const std::string& unixPath)
{
    const std::string path = "Z:" + SwapSlashes(unixPath, '/', '\\');
    return std::wstring(path.begin(), path.end());
}

// Runs the test's server with arguments; its standard output, or "" on
// failure.
std::string RunServerCommand(const std::string& arguments)
{
    const std::string out = std::string(std::getenv("BREVORA_E2E_WORK")) + "/command.txt";
    // Wine hands a Unix program no variable of its own: the paths go in the
    // command line.
    const std::string script = "'" + std::string(std::getenv("BREVORA_E2E_SERVER")) + "' " + arguments + " --data '" +
                               std::getenv("BREVORA_E2E_SERVER_DATA") + "' > '" + out + "'";
    int status = 0;
    std::string error;
    if (!RunUnixShell(script, status, error) || status != 0)
        return "";
    return ReadFileBytes(ToWindowsPath(out));
}

// The group lines of crash groups: "COUNT SIGNATURE" each, most first.
std::vector<std::string> ListGroups()
{
    std::vector<std::string> groups;
    const std::string text = RunServerCommand("crash groups");
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        std::vector<std::string> fields;
        for (size_t f = at; f <= end;) {
            const size_t tab = std::min(text.find('\t', f), end);
            fields.push_back(text.substr(f, tab - f));
            f = tab + 1;
        }
        if (fields.size() == 7)
            groups.push_back(fields[1] + " " + fields[6]);
        at = end + 1;
    }
    return groups;
}

// The groups once the server has filed expected reports, or as they are
// after 20 s.
std::vector<std::string> WaitForGroups(size_t reports)
{
    std::vector<std::string> groups;
    for (int i = 0; i < 100; ++i) {
        groups = ListGroups();
        size_t filed = 0;
        for (const std::string& group : groups)
            filed += std::stoul(group);
        if (filed >= reports)
            break;
        Sleep(200);
    }
    return groups;
}

// The test's webhook receiver and SMTP sink (alert_sink.py), stopped when
// the test ends however it ends.
class AlertSink
{
public:
    static const int kHookPort = 18301;
    static const int kSmtpPort = 18302;

    AlertSink()
    {
        const std::string work = std::getenv("BREVORA_E2E_WORK");
        std::string sink = std::getenv("BREVORA_E2E_SLOW_LINK");
        sink = sink.substr(0, sink.rfind('/')) + "/alert_sink.py";
        int status = 0;
        std::string error;
        RunUnixShell("/usr/bin/python3 '" + sink + "' " + std::to_string(kHookPort) + " " + std::to_string(kSmtpPort) +
                         " '" + work + "' >/dev/null 2>&1 </dev/null & echo $! > '" + work + "/sink.pid'",
                     status, error);
    }
    ~AlertSink()
    {
        int status = 0;
        std::string error;
        RunUnixShell("kill $(cat '" + std::string(std::getenv("BREVORA_E2E_WORK")) + "/sink.pid')", status, error);
    }

    // What arrived: the webhooks' bodies a line each, the mails each ended
    // by a line "-- end".
    static std::string Read(const char* name)
    {
        return ReadFileBytes(ToWindowsPath(std::string(std::getenv("BREVORA_E2E_WORK")) + "/" + name));
    }
    static size_t Count(const char* name, const std::string& end)
    {
        const std::string text = Read(name);
        size_t count = 0;
        for (size_t at = text.find(end); at != std::string::npos; at = text.find(end, at + end.size()))
            ++count;
        return count;
    }
};

// Lines of list: the reports stored.
size_t CountStoredReports()
{
    const std::string list = RunServerCommand("list");
    return static_cast<size_t>(std::count(list.begin(), list.end(), '\n'));
}

// Sends dump through the reporter's crash mode; its folder has no
// mapi32.dll, so the report goes to the server, the stored-th.
void SendThroughTheReporter(const std::wstring& folder, const std::wstring& dump, const std::wstring& log,
                            size_t stored)
{
    UserDriver driver;
    const std::wstring args = L"\"" + dump + L"\" \"" + log + L"\" \"" + log + L"\"";
    ASSERT_TRUE(driver.Start(folder + L"\\brevora-bugreporter.exe", args, ReporterEnvironment(folder)));
    HWND dialog = driver.WaitForDialog(kCrashCaption, IDC_COMMENTS, kWindowTimeoutMs);
    ASSERT_NE(static_cast<HWND>(NULL), dialog) << driver.Report();
    ASSERT_TRUE(driver.Type(dialog, IDC_COMMENTS, L"it crashed"));
    ASSERT_TRUE(driver.Click(dialog, IDC_SEND));
    // Once stored, the dialog need not be waited out: closing it ends the
    // program at once.
    for (int i = 0; i < 200 && CountStoredReports() < stored; ++i)
        Sleep(100);
    EXPECT_EQ(stored, CountStoredReports());
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    EXPECT_TRUE(driver.WaitForExit(kExitTimeoutMs)) << driver.Report();
}

TEST(CrashDump, ReportedCrashesAreGroupedAndNamedOnceTheBinaryIsGiven)
{
    ASSERT_TRUE(HaveReportServer());
    // Each new crash also goes to the maintainers: a webhook and a mail.
    AlertSink sink;
    ASSERT_NE("", RunServerCommand("alert add --webhook http://127.0.0.1:" + std::to_string(AlertSink::kHookPort) +
                                   "/hook --on new-group"));
    ASSERT_NE("", RunServerCommand("alert add --email maintainers@example.org --on new-group"));
    const std::string options = "--public-url http://maintainers.example/ --smtp smtp://127.0.0.1:" +
                                std::to_string(AlertSink::kSmtpPort) + " --smtp-from alerts@example.org";
    std::string error;
    ASSERT_TRUE(StartReportServer(options, error)) << error;
    ScratchFolder folder(L"crash-groups");
    ASSERT_TRUE(CopyFileW(ReporterPath().c_str(), (folder.Path() + L"\\brevora-bugreporter.exe").c_str(), FALSE));
    const std::wstring log = folder.Path() + L"\\app.log";
    ASSERT_TRUE(WriteFileBytes(log, "started\r\n"));

    const char* const crashes[] = {"null-read", "divide", "null-read"};
    size_t stored = 0;
    for (const char* how : crashes) {
        std::string dump;
        ASSERT_EQ(10u, RunCrashMaker(how, dump));
        SendThroughTheReporter(folder.Path(), ToWindowsPath(dump), log, ++stored);
    }
    // Without the binary: the program's frames by offset, the same crash
    // twice in one group.
    std::vector<std::string> groups = WaitForGroups(3);
    ASSERT_EQ(2u, groups.size()) << RunServerCommand("list");
    EXPECT_EQ(0u, groups[0].find("2 EXCEPTION_ACCESS_VIOLATION_READ crash_maker.exe+0x")) << groups[0];
    EXPECT_EQ(0u, groups[1].find("1 EXCEPTION_INT_DIVIDE_BY_ZERO crash_maker.exe+0x")) << groups[1];

    // One webhook and one mail for each new group, naming it and linking to
    // its page; none more after a restart.
    for (int i = 0; i < 100 && (AlertSink::Count("webhooks", "\n") < 2 || AlertSink::Count("mails", "-- end\n") < 2);
         ++i)
        Sleep(200);
    ASSERT_TRUE(StopReportServer(error)) << error;
    ASSERT_TRUE(StartReportServer(options, error)) << error;
    Sleep(3000);
    const std::string hooks = AlertSink::Read("webhooks");
    EXPECT_EQ(2u, AlertSink::Count("webhooks", "\n")) << hooks;
    EXPECT_EQ(2u, AlertSink::Count("mails", "-- end\n")) << AlertSink::Read("mails");
    for (const std::string& group : groups) {
        const std::string signature = group.substr(group.find(' ') + 1);
        EXPECT_NE(std::string::npos, hooks.find("\"event\":\"new-group\",\"text\":\"New crash: " + signature)) << hooks;
        EXPECT_NE(std::string::npos, AlertSink::Read("mails").find(signature)) << AlertSink::Read("mails");
    }
    EXPECT_NE(std::string::npos, hooks.find("\"group_url\":\"http://maintainers.example/crashes/1\"")) << hooks;
    EXPECT_NE(std::string::npos, AlertSink::Read("mails").find("http://maintainers.example/crashes/2")) << AlertSink::Read("mails");

    // With it: processed again, named by function, still two groups.
    const std::wstring binary = GetBuiltFile(L"crash_maker.exe");
    const std::string added =
        RunServerCommand("binary add '" + SwapSlashes(std::string(binary.begin() + 2, binary.end()), '\\', '/') + "'");
    EXPECT_NE(std::string::npos, added.find("3 crash reports processed again")) << added;
    groups = ListGroups();
    EXPECT_EQ((std::vector<std::string>{"2 EXCEPTION_ACCESS_VIOLATION_READ crash_maker.exe!CrashInnermost",
                                        "1 EXCEPTION_INT_DIVIDE_BY_ZERO crash_maker.exe!CrashInnermost"}),
              groups);
    const std::string shown = RunServerCommand("show 1");
    const size_t innermost = shown.find(" CrashInnermost+");
    const size_t middle = shown.find(" CrashMiddle+");
    const size_t outermost = shown.find(" CrashOutermost+");
    EXPECT_TRUE(innermost < middle && middle < outermost && outermost != std::string::npos) << shown;
    EXPECT_NE(std::string::npos, shown.find("Reason:     EXCEPTION_ACCESS_VIOLATION_READ at ")) << shown;
}

// A fail-fast ends the process at once, past every filter: no dump.
TEST(CrashDump, FailFastLeavesNoDumpOfItsOwn)
{
    ASSERT_NE(nullptr, std::getenv("BREVORA_E2E_WORK"));
    std::string dump;
    EXPECT_NE(10u, RunCrashMaker("fail-fast", dump));
    std::string windowsDump = "Z:" + SwapSlashes(dump, '/', '\\');
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(std::wstring(windowsDump.begin(), windowsDump.end()).c_str()));
}

}  // namespace
