// The fixture of the start-up tests against the reference report server:
// a server of the test's own, and the reporter started up to its form and
// ended by Cancel.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "res/resource.h"
#include "tests/wine/startup_support.h"

const char kVersionFile[] = "latest_version.txt";
const char kVersionPath[] = "/bugreport/latest_version";

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
