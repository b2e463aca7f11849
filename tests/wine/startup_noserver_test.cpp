// Start-up without a working report server, and with a temporary folder that
// cannot take the two files.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "res/resource.h"
#include "tests/wine/startup_support.h"

namespace {

TEST(StartupWithoutServer, ServerDownGoesOnWithoutUpdateBox)
{
    ExpectFormWithoutUpdateBox(kWindowTimeoutMs);
}

struct TempFailureCase
{
    const char* name;
    std::wstring tempFolder;
    const char* pattern;
};

class UnusableTempFolder : public ::testing::TestWithParam<TempFailureCase> {};

TEST_P(UnusableTempFolder, PrintsTheFailureAndEndsWithStatus1)
{
    const TempFailureCase& c = GetParam();
    RemoveBrevoraKey();
    UserDriver driver;
    ASSERT_TRUE(driver.Start(ReporterPath(), L"", ReporterEnvironment(c.tempFolder)));
    ASSERT_TRUE(driver.WaitForExit(kExitTimeoutMs)) << driver.Report();
    EXPECT_EQ(1u, driver.ExitCode()) << driver.Report();
    EXPECT_TRUE(std::regex_match(driver.Output(), std::regex(c.pattern))) << driver.Report();
    EXPECT_TRUE(driver.ShownWindows().empty()) << driver.Report();
}

INSTANTIATE_TEST_SUITE_P(Folders, UnusableTempFolder, ::testing::Values(
    TempFailureCase{ "PathLongerThan259", L"C:\\" + std::wstring(270, L't'), "GetTempPath failed \\(-?[0-9]+\\)\r?\n" },
    TempFailureCase{ "MissingFolder", L"C:\\brevora-no-such-folder\\temp", "GetTempFileName failed \\(-?[0-9]+\\)\r?\n" }
), [](const ::testing::TestParamInfo<TempFailureCase>& info) { return std::string(info.param.name); });

}  // namespace
