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

std::string GetWorkFolder()
{
    const char* work = std::getenv("BREVORA_E2E_WORK");
    return work ? work : "";
}

std::wstring ToWindowsPath(const std::string& unixPath)
{
    std::wstring path = L"Z:" + std::wstring(unixPath.begin(), unixPath.end());
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

std::string ToUnixPath(const std::wstring& windowsPath)
{
    std::string path(windowsPath.begin() + 2, windowsPath.end());  // past "Z:"; the build paths are ASCII
    for (char& c : path)
        if (c == '\\')
            c = '/';
    return path;
}

// Runs crash_maker.exe HOW DUMP and returns its exit status.
DWORD RunCrashMaker(const std::string& how, const std::string& dump)
{
    std::string output;
    DWORD status = 0;
    const std::wstring dumpPath = ToWindowsPath(dump);
    std::string commandLine = "crash_maker.exe " + how + " " + std::string(dumpPath.begin(), dumpPath.end());
    if (!RunAndCapture(GetBuiltFile(L"crash_maker.exe"), commandLine, output, status, 60000))
        return 0xFFFFFFFF;
    return status;
}

// minidump_print's output for dump, with the program's binary or without.
std::string PrintDump(const std::string& dump, bool withBinary)
{
    std::string out = dump + (withBinary ? ".with-binary.txt" : ".txt");
    std::string script = "'" + std::string(std::getenv("BREVORA_MINIDUMP_PRINT")) + "' '" + dump + "'";
    if (withBinary)
        script += " --binary '" + ToUnixPath(GetBuiltFile(L"crash_maker.exe")) + "'";
    int status = 0;
    std::string error;
    if (!RunUnixShell(script + " > '" + out + "'", status, error) || status != 0)
        return "minidump_print failed: " + error;
    return ReadFileBytes(ToWindowsPath(out));
}

TEST(CrashDump, EachCrashIsReadWithItsReasonModuleAndStack)
{
    ASSERT_NE("", GetWorkFolder());
    ASSERT_NE(nullptr, std::getenv("BREVORA_MINIDUMP_PRINT"));
    struct Case
    {
        const char* how;
        const char* reason;
        const char* module;
        const char* signature;
    } cases[] = {
        {"null-read", "EXCEPTION_ACCESS_VIOLATION_READ", "crash_maker.exe+",
         "EXCEPTION_ACCESS_VIOLATION_READ crash_maker.exe!CrashInnermost"},
        {"null-write", "EXCEPTION_ACCESS_VIOLATION_WRITE", "crash_maker.exe+",
         "EXCEPTION_ACCESS_VIOLATION_WRITE crash_maker.exe!CrashInnermost"},
        {"library", "EXCEPTION_ACCESS_VIOLATION_READ", "msvcrt.dll+",
         "EXCEPTION_ACCESS_VIOLATION_READ msvcrt | crash_maker.exe!CrashInnermost"},
        {"throw", "EXCEPTION_CXX", "kernelbase.dll+", "EXCEPTION_CXX kernelbase | crash_maker.exe!RaiseUncaughtThrow()"},
        {"divide", "EXCEPTION_INT_DIVIDE_BY_ZERO", "crash_maker.exe+",
         "EXCEPTION_INT_DIVIDE_BY_ZERO crash_maker.exe!CrashInnermost"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        std::string dump = GetWorkFolder() + "/" + c.how + ".dmp";
        ASSERT_EQ(10u, RunCrashMaker(c.how, dump));

        std::string bare = PrintDump(dump, false);
        EXPECT_NE(std::string::npos, bare.find("Reason:     " + std::string(c.reason) + " at ")) << bare;
        EXPECT_NE(std::string::npos, bare.find("Module:     " + std::string(c.module))) << bare;
        EXPECT_NE(std::string::npos, bare.find(", Wine wine-")) << bare;

        std::string full = PrintDump(dump, true);
        EXPECT_NE(std::string::npos, full.find("Signature:  " + std::string(c.signature) + "\n")) << full;
        size_t innermost = full.find(" CrashInnermost+");
        size_t middle = full.find(" CrashMiddle+");
        size_t outermost = full.find(" CrashOutermost+");
        EXPECT_TRUE(innermost < middle && middle < outermost && outermost != std::string::npos) << full;
    }
}

// A fail-fast ends the process at once, past every filter: no dump.
TEST(CrashDump, FailFastLeavesNoDumpOfItsOwn)
{
    ASSERT_NE("", GetWorkFolder());
    std::string dump = GetWorkFolder() + "/fail-fast.dmp";
    EXPECT_NE(10u, RunCrashMaker("fail-fast", dump));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(ToWindowsPath(dump).c_str()));
}

}  // namespace
