// The gathering of system information, called in-process with the profile
// and the report file in a folder of the test's own: the tool's start, the
// report's import, the environment, and the wait box's run-once rule.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "bugreport/report_files.h"
#include "bugreport/system_info.h"
#include "bugreport/wait_dialog.h"
#include "res/resource.h"
#include "tests/wine/sysinfo_support.h"
#include "tests/wine/test_support.h"

namespace {

class Gathering : public ::testing::Test
{
protected:
    Gathering() : m_temp(L"gather") {}

    void SetUp() override
    {
        ASSERT_NE(0u, GetTempFileNameW(m_temp.Path().c_str(), L"KRP", 0, g_szProfilePath));
        ASSERT_NE(0u, GetTempFileNameW(m_temp.Path().c_str(), L"KRP", 0, g_szDxDiagPath));
    }

    void TearDown() override { SetEnvironment(m_environment); }

    // Sets the stand-in's variables in this process, for the tool started from here.
    void ScriptStandIn(const StandInScript& script)
    {
        EnvironmentChanges changes = StandInEnvironment(m_temp.Path(), script);
        for (const auto& change : changes)
            m_environment.push_back({ change.first, L"" });
        SetEnvironment(changes);
    }

    std::string Profile() const { return ReadFileBytes(g_szProfilePath); }

    ScratchFolder m_temp;
    EnvironmentChanges m_environment;  // what TearDown unsets
};

TEST_F(Gathering, RunDxDiagStartsTheToolAtItsFixedPathAndWaitsForItsEnd)
{
    DxDiagAtFixedPath place(DxDiagAtFixedPath::kStandIn);
    StandInScript script;
    script.lingerMs = 1000;
    ScriptStandIn(script);

    EXPECT_NE(FALSE, RunDxDiag());

    StandInRecord record = ReadStandInRecord(m_temp.Path());
    EXPECT_EQ(1, record.starts);
    EXPECT_TRUE(record.ended) << "RunDxDiag returned before the tool ended";
    EXPECT_EQ(std::wstring(g_szDxDiagPath), record.target) << Narrow(record.commandLine);
    EXPECT_EQ(0, _wcsicmp(L"C:\\Windows\\system32", record.directory.c_str())) << Narrow(record.directory);
    EXPECT_EQ(SW_SHOWNORMAL, record.show);
}

BOOL CALLBACK CountVisibleWindow(HWND window, LPARAM count)
{
    if (IsWindowVisible(window))
        ++*reinterpret_cast<int*>(count);
    return TRUE;
}

TEST_F(Gathering, RunDxDiagWithoutTheToolFailsWithoutABox)
{
    DxDiagAtFixedPath place(DxDiagAtFixedPath::kNothing);

    EXPECT_EQ(FALSE, RunDxDiag());

    int visible = 0;
    EnumThreadWindows(GetCurrentThreadId(), CountVisibleWindow, reinterpret_cast<LPARAM>(&visible));
    EXPECT_EQ(0, visible);
}

struct ImportCase
{
    const char* name;
    std::string report;
    std::string expectedEntry;  // the profile's line(s) of [DxDiag] "Content"
};

class ImportDxDiagReportTest : public Gathering, public ::testing::WithParamInterface<ImportCase> {};

TEST_P(ImportDxDiagReportTest, WritesTheReportAsContent)
{
    const ImportCase& c = GetParam();
    ASSERT_TRUE(WriteFileBytes(g_szDxDiagPath, c.report));

    ImportDxDiagReport();

    EXPECT_EQ("[DxDiag]\r\n" + c.expectedEntry, Profile());
    EXPECT_EQ(c.report, ReadFileBytes(g_szDxDiagPath)) << "the report file is left as it was";
}

INSTANTIATE_TEST_SUITE_P(
    Reports, ImportDxDiagReportTest,
    ::testing::Values(ImportCase{ "OneLine", "Report", "Content=Report\r\n" },
                      ImportCase{ "LinesKeepTheirBreaks", "one\r\ntwo\r\n\r\nfour", "Content=one\r\ntwo\r\n\r\nfour\r\n" },
                      ImportCase{ "NulEndsTheValue", std::string("before\0after", 12), "Content=before\r\n" },
                      ImportCase{ "NulFirstGivesAnEmptyValue", std::string("\0after", 6), "Content=\r\n" },
                      ImportCase{ "AnsiBytesComeBackUnchanged", "caf\xE9 \xA9 2024", "Content=caf\xE9 \xA9 2024\r\n" }),
    [](const ::testing::TestParamInfo<ImportCase>& info) { return std::string(info.param.name); });

TEST_F(Gathering, ReportPresentAtTheFirstCheckIsReadAfterOneSleep)
{
    ASSERT_TRUE(WriteFileBytes(g_szDxDiagPath, "Report"));
    DWORD start = GetTickCount();

    ImportDxDiagReport();

    DWORD elapsed = GetTickCount() - start;
    std::printf("import took %lu ms\n", static_cast<unsigned long>(elapsed));
    EXPECT_GE(elapsed, 490u) << "no sleep after the check";
    EXPECT_LT(elapsed, 1000u) << "more than one sleep";
    EXPECT_EQ("[DxDiag]\r\nContent=Report\r\n", Profile());
}

struct EnvironmentCase
{
    const char* name;
    std::wstring value;        // PYTHONPATH's value
    std::string expectedLine;  // its entry
};

class CollectEnvironmentTest : public Gathering, public ::testing::WithParamInterface<EnvironmentCase> {};

TEST_P(CollectEnvironmentTest, WritesTheEntryInItsPlace)
{
    const EnvironmentCase& c = GetParam();
    m_environment.push_back({ L"PYTHONPATH", L"" });
    ASSERT_TRUE(SetEnvironmentVariableW(L"PYTHONPATH", c.value.c_str()));

    CollectEnvironment();

    std::vector<std::string> lines = SectionLines(Profile(), "System Information");
    ASSERT_EQ(RecordedVariableNames().size(), lines.size());
    EXPECT_TRUE(c.expectedLine == lines.back()) << lines.back().substr(0, 80) << "... (" << lines.back().size()
                                                << " bytes)";
    EXPECT_EQ((std::vector<std::string>{ "System Information" }), SectionNames(Profile()));
}

INSTANTIATE_TEST_SUITE_P(
    Values, CollectEnvironmentTest,
    ::testing::Values(EnvironmentCase{ "Plain", L"C:\\python\\lib", "PYTHONPATH=C:\\python\\lib" },
                      EnvironmentCase{ "ReferencesAreNotExpandedTwice", L"%TEMP%;x", "PYTHONPATH=%TEMP%;x" },
                      // The longest value a variable can have, and the expansion buffer holds.
                      EnvironmentCase{ "LongestValue", std::wstring(32766, L'p'),
                                       "PYTHONPATH=" + std::string(32766, 'p') }),
    [](const ::testing::TestParamInfo<EnvironmentCase>& info) { return std::string(info.param.name); });

// Handles this thread's messages until done() holds or the time is up;
// returns the milliseconds that took.
template <typename Condition>
DWORD PumpUntil(Condition done, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (!done() && GetTickCount() - start < timeoutMs) {
        MSG msg;
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
    }
    return GetTickCount() - start;
}

TEST_F(Gathering, SeveralPaintsBeforeTheFirstGatheringRunItOnce)
{
    DxDiagAtFixedPath place(DxDiagAtFixedPath::kStandIn);
    StandInScript script;
    script.writesReport = true;
    script.report = "Report";
    ScriptStandIn(script);
    g_bSysInfoStarted = 0;

    // Modeless, so that the box outlives its end and takes the later WM_APPs too.
    HMODULE exe = LoadLibraryExW(GetBuiltFile(L"brevora-bugreporter.exe").c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, exe);
    HWND box = CreateDialogParamW(exe, MAKEINTRESOURCEW(IDD_WAIT), NULL, WaitDlgProc, 0);
    ASSERT_NE(nullptr, box);
    for (int i = 0; i < 3; ++i)
        SendMessageW(box, WM_PAINT, 0, 0);
    // The first WM_APP gathers before it returns.
    const DWORD gatheringMs = PumpUntil([] { return g_bSysInfoStarted != 0; }, 15000);

    StandInRecord record = ReadStandInRecord(m_temp.Path());
    EXPECT_EQ(1, record.starts);
    EXPECT_EQ(1, g_bSysInfoStarted);
    EXPECT_FALSE(IsWindowVisible(box)) << "the box was not ended";
    EXPECT_EQ((std::vector<std::string>{ "DxDiag", "System Information" }), SectionNames(Profile()));

    // Later paints find the gathering done.
    DeleteFileW(g_szProfilePath);
    SendMessageW(box, WM_PAINT, 0, 0);
    // No second gathering: given the time the first took.
    PumpUntil([] { return false; }, gatheringMs);
    EXPECT_EQ(1, ReadStandInRecord(m_temp.Path()).starts);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(g_szProfilePath));

    DestroyWindow(box);
    FreeLibrary(exe);
}

// Ends the tools this process started and left running.
void EndChildTools()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID != GetCurrentProcessId())
            continue;
        HANDLE child = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (child != NULL) {
            TerminateProcess(child, 0);
            WaitForSingleObject(child, 5000);
            CloseHandle(child);
        }
    }
    CloseHandle(snapshot);
}

// A tool that does not end: the box goes on after the bound (two minutes in
// the program, two seconds here), without the report's checks.
TEST_F(Gathering, ToolThatDoesNotEndIsGivenUpOnAfterTheBound)
{
    DxDiagAtFixedPath place(DxDiagAtFixedPath::kStandIn);
    StandInScript script;
    script.writesReport = true;
    script.report = "Report";
    script.lingerMs = 60000;
    ScriptStandIn(script);
    g_bSysInfoStarted = 0;
    const DWORD programBound = g_dwDxDiagWaitMs;
    g_dwDxDiagWaitMs = 2000;

    HMODULE exe = LoadLibraryExW(GetBuiltFile(L"brevora-bugreporter.exe").c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, exe);
    const DWORD start = GetTickCount();
    DialogBoxParamW(exe, MAKEINTRESOURCEW(IDD_WAIT), NULL, WaitDlgProc, 0);
    const DWORD elapsed = GetTickCount() - start;
    const StandInRecord record = ReadStandInRecord(m_temp.Path());
    EndChildTools();
    FreeLibrary(exe);
    g_dwDxDiagWaitMs = programBound;

    std::printf("wait box ended after %lu ms\n", static_cast<unsigned long>(elapsed));
    EXPECT_EQ(1, record.starts);
    EXPECT_FALSE(record.ended) << "the tool ended by itself: nothing was bounded";
    EXPECT_GE(elapsed, 2000u);
    EXPECT_LT(elapsed, 10000u) << "waited for the report after giving up on the tool";
    EXPECT_EQ((std::vector<std::string>{ "System Information" }), SectionNames(Profile()));
}

}  // namespace
