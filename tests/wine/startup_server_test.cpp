// Start-up against the reference report server, driven as a user would:
// the mode choice, the version check and the temporary files (the update
// offer: update_offer_test.cpp).
#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "tests/wine/startup_server_fixture.h"

namespace {

// The hexadecimal number in a name "KRPxxxx.tmp".
unsigned UniqueNumberOf(const std::wstring& name)
{
    return static_cast<unsigned>(std::wcstoul(name.c_str() + 3, NULL, 16));
}

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

struct ErrorPageCase
{
    const char* name;
    int status;  // 404: no latest_version.txt; 500: the server cannot read it
};

class VersionErrorPage : public StartupWithServer, public ::testing::WithParamInterface<ErrorPageCase> {};

// The error page's first line would differ from any installed version and
// offer an update whose No ends the program: it is no answer.
TEST_P(VersionErrorPage, OffersNoUpdateAndGoesOnToTheForm)
{
    SetInstalledVersion(L"2.0");
    if (GetParam().status == 404)
        RemoveServedFile(kVersionFile);
    else
        ServeFolderInstead(kVersionFile);
    ScratchFolder temp(L"errorpage");
    UserDriver driver;
    HWND form = StartUntilForm(driver, L"", ReporterEnvironment(temp.Path()));
    ASSERT_NE(static_cast<HWND>(NULL), form) << driver.Report();
    EXPECT_EQ(1u, CountServerRequests((std::string(kVersionPath) + " " + std::to_string(GetParam().status)).c_str()))
        << "the server answered " << GetParam().status;
    EXPECT_TRUE(ShowedWaitBoxThenForm(driver)) << "an update box appeared";
    CancelForm(driver, form);
    RemoveServedFile(kVersionFile);
    RemoveBrevoraKey();
}

INSTANTIATE_TEST_SUITE_P(Statuses, VersionErrorPage, ::testing::Values(
    ErrorPageCase{ "NotFound", 404 },
    ErrorPageCase{ "ServerError", 500 }
), [](const ::testing::TestParamInfo<ErrorPageCase>& info) { return std::string(info.param.name); });

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
