// Real crash dumps: crash_maker.exe crashes in each of its ways and writes
// its own minidump under Wine, and the native minidump_print reads it, once
// without the program's binary and once with it.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>

#include "tests/wine/report_server_control.h"
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
