// Start-up without a network: run by offline_run.sh inside a network
// namespace of its own, with a Wine prefix of its own.
#include <windows.h>

#include <gtest/gtest.h>

#include "res/resource.h"
#include "tests/wine/startup_support.h"

namespace {

class Offline : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char value[8];
        if (GetEnvironmentVariableA("BREVORA_E2E_OFFLINE", value, sizeof(value)) == 0)
            GTEST_SKIP() << "needs offline_run.sh (a network namespace of its own)";
    }
};

TEST_F(Offline, RetryAsksAgainAndCancelEndsWithoutFiles)
{
    SetInstalledVersion(L"1.0");
    ScratchFolder temp(L"offline");
    UserDriver driver;
    ASSERT_TRUE(driver.Start(ReporterPath(), L"", ReporterEnvironment(temp.Path())));

    HWND box = driver.WaitForMessageBox(kReporterCaption, kWindowTimeoutMs);
    ASSERT_TRUE(IsMessageBoxWith(driver, box, kOfflineText, { IDRETRY, IDCANCEL }));
    ASSERT_TRUE(driver.Click(box, IDRETRY));
    ASSERT_TRUE(driver.WaitForWindowGone(box, kWindowTimeoutMs)) << driver.Report();

    HWND again = driver.WaitForMessageBox(kReporterCaption, kWindowTimeoutMs);
    ASSERT_TRUE(IsMessageBoxWith(driver, again, kOfflineText, { IDRETRY, IDCANCEL }));
    ASSERT_TRUE(driver.Click(again, IDCANCEL));
    ASSERT_TRUE(driver.WaitForExit(kExitTimeoutMs)) << driver.Report();
    EXPECT_EQ(0u, driver.ExitCode());
    EXPECT_TRUE(temp.FileNames().empty()) << driver.Report();
    EXPECT_EQ(2u, driver.ShownWindows().size()) << "two connection boxes and nothing else\n" << driver.Report();
    RemoveBrevoraKey();
}

TEST_F(Offline, CrashModeShowsNoConnectionBox)
{
    ScratchFolder temp(L"offline-crash");
    UserDriver driver;
    ASSERT_TRUE(driver.Start(ReporterPath(), L"a.dmp b.log c.conf", ReporterEnvironment(temp.Path())));
    HWND dialog = driver.WaitForDialog(kCrashCaption, IDC_DONTSEND, kWindowTimeoutMs);
    ASSERT_NE(static_cast<HWND>(NULL), dialog) << driver.Report();
    // The user can write the comment although the computer is off line.
    ASSERT_TRUE(driver.Type(dialog, IDC_COMMENTS, L"It crashed on start."));
    EXPECT_TRUE(driver.WaitForText(dialog, IDC_COMMENTS, L"It crashed on start.", kWindowTimeoutMs)) << driver.Report();
    ASSERT_TRUE(driver.Click(dialog, IDC_DONTSEND));
    ASSERT_TRUE(driver.WaitForExit(kExitTimeoutMs)) << driver.Report();
    EXPECT_EQ(0u, driver.ExitCode());
    EXPECT_TRUE(temp.FileNames().empty()) << driver.Report();
    ASSERT_EQ(1u, driver.ShownWindows().size()) << driver.Report();
    EXPECT_EQ(std::wstring(L"#32770 '") + kCrashCaption + L"'", driver.ShownWindows()[0]);
}

}  // namespace
