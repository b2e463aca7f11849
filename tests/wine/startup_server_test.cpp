// Start-up against the reference report server, driven as a user would:
// the mode choice, the version check with its update box and browser start,
// and the temporary files.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/wine/startup_support.h"

namespace {

const char kVersionFile[] = "latest_version.txt";
const char kVersionPath[] = "/bugreport/latest_version";
const DWORD kBrowserStartMs = 5000;

// The hexadecimal number in a name "KRPxxxx.tmp".
unsigned UniqueNumberOf(const std::wstring& name)
{
    return static_cast<unsigned>(std::wcstoul(name.c_str() + 3, NULL, 16));
}

class StartupWithServer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!HaveReportServer())
            GTEST_SKIP() << "run through with_report_server.sh, which names the server";
        std::string error;
        ASSERT_TRUE(StartReportServer("", error)) << error;
    }

    // Starts the reporter and waits for the bug-report form; NULL when it
    // does not appear.
    HWND StartUntilForm(UserDriver& driver, const std::wstring& arguments, const EnvironmentChanges& env)
    {
        if (!driver.Start(ReporterPath(), arguments, env))
            return NULL;
        return driver.WaitForDialog(kReporterCaption, IDC_SEND, kWindowTimeoutMs);
    }

    // Ends the form with its Cancel button and expects exit status 0.
    void CancelForm(UserDriver& driver, HWND form)
    {
        ASSERT_TRUE(driver.Click(form, IDC_CANCEL)) << driver.Report();
        ASSERT_TRUE(driver.WaitForExit(kExitTimeoutMs)) << driver.Report();
        EXPECT_EQ(0u, driver.ExitCode()) << driver.Report();
    }
};

TEST_F(StartupWithServer, ThreeArgumentsShowTheCrashDialogOnly)
{
    // An installed version older than the server's: bug-report mode would ask.
    SetInstalledVersion(L"0.9");
    ServeFile(kVersionFile, "1.0\nhttp://127.0.0.1/update\n");
    ScratchFolder temp(L"crash");
    UserDriver driver;
    ASSERT_TRUE(driver.Start(ReporterPath(), L"C:\\crash\\brevora.dmp C:\\crash\\brevora.log C:\\crash\\brevora.conf",
                             ReporterEnvironment(temp.Path())));
    HWND dialog = driver.WaitForDialog(kCrashCaption, IDC_DONTSEND, kWindowTimeoutMs);
    ASSERT_NE(static_cast<HWND>(NULL), dialog) << driver.Report();
    EXPECT_EQ(static_cast<HWND>(NULL), driver.WaitForMessageBox(kReporterCaption, 0)) << driver.Report();

    ASSERT_TRUE(driver.Click(dialog, IDC_DONTSEND));
    ASSERT_TRUE(driver.WaitForExit(kExitTimeoutMs)) << driver.Report();
    EXPECT_EQ(0u, driver.ExitCode());
    EXPECT_TRUE(temp.FileNames().empty()) << driver.Report();
    EXPECT_EQ(0u, CountServerRequests("/bugreport/")) << "crash mode asked the report server";
    for (const std::wstring& shown : driver.ShownWindows())
        EXPECT_NE(std::wstring::npos, shown.find(kCrashCaption)) << Narrow(shown) << "\n" << driver.Report();
}

struct ArgumentCase
{
    const char* name;
    const wchar_t* arguments;
};

class BugReportModeArguments : public StartupWithServer, public ::testing::WithParamInterface<ArgumentCase> {};

TEST_P(BugReportModeArguments, RunTheOnlineAndVersionChecksThenTheForm)
{
    SetInstalledVersion(L"2.0.0");
    ServeFile(kVersionFile, "2.0.0\nhttp://127.0.0.1/update\n");
    ScratchFolder temp(L"args");
    UserDriver driver;
    HWND form = StartUntilForm(driver, GetParam().arguments, ReporterEnvironment(temp.Path()));
    ASSERT_NE(static_cast<HWND>(NULL), form) << driver.Report();
    EXPECT_EQ(1u, CountServerRequests(kVersionPath)) << "the version check asks the server once";
    EXPECT_EQ(2u, temp.FileNames().size()) << driver.Report();
    CancelForm(driver, form);
}

INSTANTIATE_TEST_SUITE_P(Counts, BugReportModeArguments, ::testing::Values(
    ArgumentCase{ "None", L"" },
    ArgumentCase{ "Two", L"C:\\crash\\brevora.dmp C:\\crash\\brevora.log" },
    ArgumentCase{ "Four", L"a.dmp b.log c.conf d" },
    ArgumentCase{ "ThreeWithTwoTrailingSpaces", L"\"a.dmp\" \"b.log\" \"c.conf\"  " }
), [](const ::testing::TestParamInfo<ArgumentCase>& info) { return std::string(info.param.name); });

struct NoVersionCase
{
    const char* name;
    int setup;                 // 0 no key, 1 key without value, 2 value
    std::wstring version;
};

class WithoutInstalledVersion : public StartupWithServer, public ::testing::WithParamInterface<NoVersionCase> {};

TEST_P(WithoutInstalledVersion, SkipsTheServerAndTheUpdateBox)
{
    const NoVersionCase& c = GetParam();
    if (c.setup == 0)
        RemoveBrevoraKey();
    else if (c.setup == 1)
        SetBrevoraKeyWithoutVersion();
    else
        SetInstalledVersion(c.version);
    ServeFile(kVersionFile, "9.9.9\nhttp://127.0.0.1/update\n");
    ScratchFolder temp(L"noversion");
    UserDriver driver;
    HWND form = StartUntilForm(driver, L"", ReporterEnvironment(temp.Path()));
    ASSERT_NE(static_cast<HWND>(NULL), form) << driver.Report();
    EXPECT_EQ(0u, CountServerRequests(kVersionPath)) << driver.Report();
    EXPECT_TRUE(ShowedWaitBoxThenForm(driver)) << "an update box appeared";
    CancelForm(driver, form);
    RemoveBrevoraKey();
}

INSTANTIATE_TEST_SUITE_P(Registry, WithoutInstalledVersion, ::testing::Values(
    NoVersionCase{ "NoKey", 0, L"" },
    NoVersionCase{ "NoValue", 1, L"" },
    NoVersionCase{ "EmptyValue", 2, L"" },
    // 130 characters and the terminator need 262 bytes, more than the read takes.
    NoVersionCase{ "ValueTooLongForTheRead", 2, std::wstring(130, L'7') }
), [](const ::testing::TestParamInfo<NoVersionCase>& info) { return std::string(info.param.name); });

enum Answer { kAnswerNo, kAnswerYes };

struct UpdateCase
{
    const char* name;
    std::wstring installed;
    std::string served;
    Answer answer;
    std::vector<std::wstring> browserArguments;  // empty: no browser start
};

class UpdateOffer : public StartupWithServer, public ::testing::WithParamInterface<UpdateCase> {};

TEST_P(UpdateOffer, ShowsTheBoxAndFollowsTheAnswer)
{
    const UpdateCase& c = GetParam();
    SetInstalledVersion(c.installed);
    ServeFile(kVersionFile, c.served);
    ScratchFolder temp(L"update"), records(L"browser");
    BrowserStandIn browser(records);
    EnvironmentChanges env = ReporterEnvironment(temp.Path());
    for (const auto& change : browser.Environment())
        env.push_back(change);

    UserDriver driver;
    ASSERT_TRUE(driver.Start(ReporterPath(), L"", env));
    HWND box = driver.WaitForMessageBox(kReporterCaption, kWindowTimeoutMs);
    ASSERT_TRUE(IsMessageBoxWith(driver, box, kUpdateText, { IDYES, IDNO }));
    EXPECT_EQ(1u, CountServerRequests(kVersionPath));

    if (c.answer == kAnswerNo) {
        ASSERT_TRUE(driver.Click(box, IDNO));
        ASSERT_TRUE(driver.WaitForExit(kExitTimeoutMs)) << driver.Report();
        EXPECT_EQ(0u, driver.ExitCode());
        EXPECT_TRUE(temp.FileNames().empty()) << "the temporary folder changed\n" << driver.Report();
    } else {
        ASSERT_TRUE(driver.Click(box, IDYES));
        HWND form = driver.WaitForDialog(kReporterCaption, IDC_SEND, kWindowTimeoutMs);
        ASSERT_NE(static_cast<HWND>(NULL), form) << driver.Report();
        EXPECT_EQ(2u, temp.FileNames().size()) << driver.Report();
        CancelForm(driver, form);
    }

    // The shell starts the browser without waiting for it: a start may be
    // recorded a moment later. A start that must not come is waited for as
    // long as one that must.
    std::vector<std::vector<std::wstring>> starts = browser.Starts();
    for (const DWORD start = GetTickCount(); starts.empty() && GetTickCount() - start < kBrowserStartMs;) {
        Sleep(50);
        starts = browser.Starts();
    }
    if (c.browserArguments.empty()) {
        EXPECT_TRUE(starts.empty()) << "a browser was started with " << (starts.empty() ? "" : Narrow(starts[0].empty() ? L"" : starts[0][0]));
    } else {
        ASSERT_EQ(1u, starts.size()) << driver.Report();
        EXPECT_EQ(c.browserArguments, starts[0]);
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, UpdateOffer, ::testing::Values(
    UpdateCase{ "DiffersInLetterCaseNo", L"2.1.0-RC1", "2.1.0-rc1\nhttp://127.0.0.1/update\n", kAnswerNo, {} },
    UpdateCase{ "TrailingCarriageReturnNo", L"2.1.0", "2.1.0\r\nhttp://127.0.0.1/update\r\n", kAnswerNo, {} },
    UpdateCase{ "NewerInstalledNo", L"3.0", "2.1.0\nhttp://127.0.0.1/update\n", kAnswerNo, {} },
    UpdateCase{ "YesWithoutAddress", L"2.0", "2.1.0\n", kAnswerYes, {} },
    UpdateCase{ "YesWithAddress", L"2.0", "2.1.0\nhttp://127.0.0.1/download?v=2.1.0&os=win\n", kAnswerYes,
                { L"http://127.0.0.1/download?v=2.1.0&os=win" } },
    UpdateCase{ "YesWithHttpsAddress", L"2.0", "\n\n2.1.0\n\nhttps://127.0.0.1/download\n", kAnswerYes,
                { L"https://127.0.0.1/download" } },
    UpdateCase{ "YesWithQuotes", L"2.0", "2.1.0\nhttp://127.0.0.1/\" -nohome \"x\n", kAnswerYes, {} },
    UpdateCase{ "YesWithSpaces", L"2.0", "2.1.0\nhttp://127.0.0.1/ C:\\windows\\system32\\calc.exe\n", kAnswerYes, {} },
    UpdateCase{ "YesWithFileScheme", L"2.0", "2.1.0\nfile:///C:/windows/system32/calc.exe\n", kAnswerYes, {} },
    UpdateCase{ "YesWithCarriageReturn", L"2.0", "2.1.0\r\nhttp://127.0.0.1/update\r\n", kAnswerYes, {} }
), [](const ::testing::TestParamInfo<UpdateCase>& info) { return std::string(info.param.name); });

TEST_F(StartupWithServer, VersionOf129CharactersIsReadWhole)
{
    // The longest value the read takes: differing only in its last character.
    std::wstring installed(128, L'7');
    SetInstalledVersion(installed + L"8");
    ServeFile(kVersionFile, std::string(128, '7') + "9\n");
    ScratchFolder temp(L"longest");
    UserDriver driver;
    ASSERT_TRUE(driver.Start(ReporterPath(), L"", ReporterEnvironment(temp.Path())));
    HWND box = driver.WaitForMessageBox(kReporterCaption, kWindowTimeoutMs);
    ASSERT_TRUE(IsMessageBoxWith(driver, box, kUpdateText, { IDYES, IDNO }));
    ASSERT_TRUE(driver.Click(box, IDNO));
    ASSERT_TRUE(driver.WaitForExit(kExitTimeoutMs)) << driver.Report();
    RemoveBrevoraKey();
}

TEST_F(StartupWithServer, FullStartLeavesTheProfileAndTheDiagnosticFile)
{
    RemoveBrevoraKey();
    ScratchFolder temp(L"krp");
    UserDriver driver;
    HWND form = StartUntilForm(driver, L"", ReporterEnvironment(temp.Path()));
    ASSERT_NE(static_cast<HWND>(NULL), form) << driver.Report();

    EXPECT_TRUE(ShowedWaitBoxThenForm(driver));

    std::vector<std::wstring> names = temp.FileNames();
    ASSERT_EQ(2u, names.size()) << driver.Report();
    std::vector<std::wstring> open, closed;
    for (const std::wstring& name : names) {
        EXPECT_EQ(0u, name.find(L"KRP")) << Narrow(name);
        std::wstring path = temp.Path() + L"\\" + name;
        // Only the profile is held open by the reporter.
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (file == INVALID_HANDLE_VALUE) {
            EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
            open.push_back(name);
            file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
            ASSERT_NE(INVALID_HANDLE_VALUE, file);
            // By the time the form shows, the wait box and the form have written it.
            char bytes[8192] = {};
            DWORD got = 0;
            ReadFile(file, bytes, sizeof(bytes) - 1, &got, NULL);
            const std::string text(bytes, got);
            EXPECT_NE(std::string::npos, text.find("[System Information]")) << text;
            EXPECT_NE(std::string::npos, text.find("[Bug Report]")) << text;
        } else {
            closed.push_back(name);
        }
        CloseHandle(file);
    }
    ASSERT_EQ(1u, open.size()) << "exactly one file, the profile, is held open";
    // Unique numbers count up from one name to the next (16 bits, wrapping);
    // creation times cannot tell, as Wine reports the last inode change.
    unsigned profileNumber = UniqueNumberOf(open[0]), otherNumber = UniqueNumberOf(closed[0]);
    EXPECT_LT(static_cast<unsigned>((otherNumber - profileNumber) & 0xFFFF) - 1, 0x8000u)
        << "the profile is made first: " << Narrow(open[0]) << " then " << Narrow(closed[0]);

    CancelForm(driver, form);
    EXPECT_EQ(names, temp.FileNames()) << "both files stay after the end";
}

}  // namespace
