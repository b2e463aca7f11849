// The update offer against the reference report server, driven as a user
// would: the box, the answer and the browser's start. The stand-in browser
// takes the place of Wine's own, so these tests have a prefix of their own.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/wine/startup_server_fixture.h"

namespace {

// How long after the answer a browser start may be recorded.
const DWORD kBrowserStartMs = 5000;

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

    // The browser would start on the answer.
    const DWORD answered = GetTickCount();
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
    // long after the answer as one that must.
    std::vector<std::vector<std::wstring>> starts = browser.Starts();
    while (starts.empty() && GetTickCount() - answered < kBrowserStartMs) {
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

}  // namespace
