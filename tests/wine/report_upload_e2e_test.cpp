// Send, end to end under Wine: the report typed into the form reaches the
// reference server and reads back the same, field by field and byte for
// byte; the server down, then up again; the server failing; the log held
// open by Brevora; a profile path outside the ANSI code page; a slow line
// with the progress box and its Cancel.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/wine/upload_support.h"

namespace {

class ReportUpload : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!HaveReportServer())
            GTEST_SKIP() << "run through with_report_server.sh, which names the server";
        ServeFile("components.txt", "Player\nLibrary\n");
        std::string error;
        ASSERT_TRUE(StartReportServer("", error)) << error;
    }

    void TearDown() override
    {
        std::string error;
        EXPECT_TRUE(StopReportServer(error)) << error;
        RemoveBrevoraKey();
    }

    // Starts the form and adds a known entry to the system information.
    HWND StartForm(FormRun& run)
    {
        HWND form = run.Start();
        if (form != NULL)
            AddSystemInfoEntry(run, L"BREVORA_TEST", L"entry after the environment");
        return form;
    }

    // Fills in the form, stops the server and presses Send: the failure box.
    void SendWithTheServerDown(FormRun& run, HWND& form, HWND& box)
    {
        form = StartForm(run);
        ASSERT_NE(static_cast<HWND>(NULL), form) << run.Driver().Report();
        ASSERT_TRUE(FillForm(run, L"s", L"h", L"x", L"me@example.org"));
        std::string error;
        ASSERT_TRUE(StopReportServer(error)) << error;

        box = run.SendAndWaitForBox();
        ASSERT_TRUE(IsFailureBox(run.Driver(), box, form));
    }
};

TEST_F(ReportUpload, WholeReportArrivesFieldByField)
{
    ServeFile("latest_version.txt", "2.4.1\nhttp://example.org/\n");
    const std::string logBytes = "2026-01-05 10:00:00 player: started\r\n2026-01-05 10:00:07 player: froze\r\n";
    AppLog log(logBytes);
    FormRun run(L"upload-whole");
    run.UseInstalledVersion(L"2.4.1");
    HWND form = StartForm(run);
    ASSERT_NE(static_cast<HWND>(NULL), form) << run.Driver().Report();

    const std::wstring steps = L"Opened the music section\rclicked \u201Cadd\u201D beside E:/";
    const std::wstring happened = L"It scanned for 5 minutes, nothing happened";
    const std::wstring shouldHappen = L"All songs of the stick listed \u00e0 la J\u00f6rg";
    const std::wstring email = L"j\u00f6rg@example.org";
    ASSERT_TRUE(FillForm(run, steps, happened, shouldHappen, email));
    EXPECT_EQ(L"2.4.1", ReadBugReportValue(run, L"Version")) << "the version in the details view";

    HWND box = run.SendAndWaitForBox();
    EXPECT_TRUE(IsThanksBox(run.Driver(), box));
    // What the reporter read, once it has read it.
    const std::string systemInfo = SystemInfoFromProfile(run);
    std::string dxdiag;
    ASSERT_TRUE(ReadFileBytes(run.DxDiagPath(), dxdiag));
    AcknowledgeThanks(run.Driver(), box);

    std::vector<StoredReport> reports = StoredReports();
    ASSERT_EQ(1u, reports.size());
    std::map<std::string, std::string>& f = reports[0].fields;
    EXPECT_EQ(Ansi(email), f["email"]);
    EXPECT_EQ(Ansi(L"Opened the music section\r\nclicked \u201Cadd\u201D beside E:/"), f["description1"]);
    EXPECT_EQ(Ansi(happened), f["description2"]);
    EXPECT_EQ(Ansi(shouldHappen), f["description3"]);
    EXPECT_EQ(systemInfo, f["system_info"]);
    EXPECT_NE(std::string::npos, f["system_info"].find("\nBREVORA_TEST=entry after the environment"))
        << "every entry, one per line: " << f["system_info"];
    EXPECT_EQ("Player", f["component"]) << "the component the form showed";
    EXPECT_EQ("2.4.1", f["version"]);
    EXPECT_EQ(std::to_string(GetACP()), f["code_page"]);
    // The maintainers read the texts as typed, whatever the code page.
    const std::string shown = ShowStoredReport(reports[0].id);
    EXPECT_NE(std::string::npos, shown.find(Utf8(L"clicked \u201Cadd\u201D beside E:/"))) << shown;
    EXPECT_NE(std::string::npos, shown.find(Utf8(shouldHappen))) << shown;
    EXPECT_NE(std::string::npos, shown.find("Version:      2.4.1\n")) << shown;
    EXPECT_EQ("user_info.txt", f["attachment_name"]);
    if (dxdiag.empty()) {
        EXPECT_EQ("placeholder", f["attachment_state"]);
    } else {
        EXPECT_EQ(dxdiag.substr(0, dxdiag.find('\0')), f["attachment"]);
    }
    EXPECT_EQ("brevora_log.txt", f["attachment_log_name"]);
    EXPECT_EQ("content", f["attachment_log_state"]);
    EXPECT_EQ(logBytes, f["attachment_log"]);
    EXPECT_EQ("Brevora Bug Reporter", f["user_agent"]);
}

TEST_F(ReportUpload, BodyOnTheWireByteForByte)
{
    AppLog noLog;
    FormRun run(L"upload-bytes");
    HWND form = StartForm(run);
    ASSERT_NE(static_cast<HWND>(NULL), form) << run.Driver().Report();
    ASSERT_TRUE(FillForm(run, L"one", L"two", L"three", L""));
    ASSERT_TRUE(PressKey(run.Driver(), form, IDC_ELEMENT, VK_DOWN));
    for (DWORD start = GetTickCount(); ReadComboSelection(form, IDC_ELEMENT) != 1 && GetTickCount() - start < 5000;)
        Sleep(20);
    ASSERT_EQ(1, ReadComboSelection(form, IDC_ELEMENT));
    // A diagnostic report that is missing: the placeholder.
    ASSERT_TRUE(DeleteFileW(run.DxDiagPath().c_str()));
    const std::string systemInfo = SystemInfoFromProfile(run);

    HWND box = run.SendAndWaitForBox();
    EXPECT_TRUE(IsThanksBox(run.Driver(), box));
    AcknowledgeThanks(run.Driver(), box);

    const std::string expected =
        "email \n\n"
        "description1 " + SystemBase64("one") + "\n\n"
        "description2 " + SystemBase64("two") + "\n\n"
        "description3 " + SystemBase64("three") + "\n\n"
        "description4 " + SystemBase64(systemInfo + "\nElement=Library\nVersion=\nCodePage=" +
                                       std::to_string(GetACP())) + "\n\n"
        "attachment_name " + SystemBase64("user_info.txt") + "\n\n"
        "attachment WFhY\n\n\n"
        "attachment_log_name " + SystemBase64("brevora_log.txt") + "\n\n"
        "attachment_log WFhY\n\n\n";
    std::vector<StoredReport> reports = StoredReports();
    ASSERT_EQ(1u, reports.size());
    EXPECT_EQ(expected, reports[0].fields["raw_body"]);
    // Contact not allowed: the example left the edit and the profile.
    EXPECT_EQ(std::wstring::npos, DescribeEntries(run.BugReportSection()).find("Email"));
    // The missing files were read, not created.
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(AppLogPath().c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(run.DxDiagPath().c_str()));
}

TEST_F(ReportUpload, ServerDownThenRetryAfterItsRestartStoresTheReportOnce)
{
    AppLog log("one line\n");
    FormRun run(L"upload-retry");
    HWND form = NULL, box = NULL;
    ASSERT_NO_FATAL_FAILURE(SendWithTheServerDown(run, form, box));
    UserDriver& driver = run.Driver();
    std::string error;
    ASSERT_TRUE(StartReportServer("", error)) << error;
    ASSERT_TRUE(driver.Click(box, IDRETRY));
    ASSERT_TRUE(driver.WaitForWindowGone(box, 5000));

    HWND thanks = driver.WaitForMessageBox(kReporterCaption, kWindowTimeoutMs);
    EXPECT_TRUE(IsThanksBox(driver, thanks));
    AcknowledgeThanks(driver, thanks);
    std::vector<StoredReport> reports = StoredReports();
    ASSERT_EQ(1u, reports.size());
    EXPECT_EQ("me@example.org", reports[0].fields["email"]);
    EXPECT_EQ("one line\n", reports[0].fields["attachment_log"]);
}

TEST_F(ReportUpload, ServerDownThenCancelKeepsTheFormAndItsTexts)
{
    FormRun run(L"upload-cancel");
    HWND form = NULL, box = NULL;
    ASSERT_NO_FATAL_FAILURE(SendWithTheServerDown(run, form, box));
    UserDriver& driver = run.Driver();
    std::string error;
    ASSERT_TRUE(driver.Click(box, IDCANCEL));
    ASSERT_TRUE(driver.WaitForWindowGone(box, 5000));

    ASSERT_TRUE(WaitUntilHandled(form));
    EXPECT_EQ(static_cast<HWND>(NULL), driver.WaitForMessageBox(kReporterCaption, 0)) << "no thanks";
    EXPECT_TRUE(IsWindowVisible(form));
    EXPECT_EQ(L"s", ReadControl(form, IDC_STEPS));
    EXPECT_EQ(L"h", ReadControl(form, IDC_HAPPENED));
    EXPECT_EQ(L"x", ReadControl(form, IDC_SHOULDHAPPEN));
    EXPECT_EQ(L"me@example.org", ReadControl(form, IDC_EMAIL));

    // The same form sends once the server is back.
    ASSERT_TRUE(StartReportServer("", error)) << error;
    HWND thanks = run.SendAndWaitForBox();
    EXPECT_TRUE(IsThanksBox(driver, thanks));
    AcknowledgeThanks(driver, thanks);
    EXPECT_EQ(1u, StoredReports().size());
}

TEST_F(ReportUpload, ServerAnswering500GetsTheFailureBoxAndNoThanks)
{
    std::string error;
    ASSERT_TRUE(StartReportServer("--fail-uploads", error)) << error;
    FormRun run(L"upload-500");
    HWND form = StartForm(run);
    ASSERT_NE(static_cast<HWND>(NULL), form) << run.Driver().Report();
    ASSERT_TRUE(FillForm(run, L"s", L"h", L"x", L""));

    UserDriver& driver = run.Driver();
    for (int attempt = 0; attempt < 2; ++attempt) {
        HWND box = attempt == 0 ? run.SendAndWaitForBox() : driver.WaitForMessageBox(kReporterCaption, kWindowTimeoutMs);
        ASSERT_TRUE(IsFailureBox(driver, box, form)) << "attempt " << attempt;
        ASSERT_TRUE(driver.Click(box, attempt == 0 ? IDRETRY : IDCANCEL));
        ASSERT_TRUE(driver.WaitForWindowGone(box, 5000));
    }
    EXPECT_EQ(2u, CountServerRequests("POST /bugreport/report/ 500"));
    EXPECT_TRUE(IsWindowVisible(form));
    for (const std::wstring& shown : driver.ShownWindows())
        EXPECT_EQ(std::wstring::npos, shown.find(L"Thanks")) << Narrow(shown);
    EXPECT_TRUE(StoredReports().empty());
    ASSERT_TRUE(driver.Click(form, IDC_CANCEL));
    EXPECT_TRUE(driver.WaitForExit(kExitTimeoutMs));
}

TEST_F(ReportUpload, LogHeldOpenForWritingByBrevoraIsSent)
{
    const std::string logBytes = "player: still running\n";
    AppLog log(logBytes);
    // As Brevora holds it while it runs: writing, others may only read.
    HANDLE held = CreateFileW(AppLogPath().c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    FormRun run(L"upload-held");
    HWND form = StartForm(run);
    ASSERT_NE(static_cast<HWND>(NULL), form) << run.Driver().Report();
    ASSERT_TRUE(FillForm(run, L"s", L"h", L"x", L""));
    HWND box = run.SendAndWaitForBox();
    EXPECT_TRUE(IsThanksBox(run.Driver(), box));
    AcknowledgeThanks(run.Driver(), box);
    CloseHandle(held);

    std::vector<StoredReport> reports = StoredReports();
    ASSERT_EQ(1u, reports.size());
    EXPECT_EQ(logBytes, reports[0].fields["attachment_log"]);
}

TEST_F(ReportUpload, ProfilePathOutsideTheAnsiCodePageStillSendsEverySystemEntry)
{
    // Japanese letters have no place in the single-byte code page the
    // prefix runs with, so the profile's path has no ANSI form.
    FormRun run(L"upload-\u65e5\u672c");
    ASSERT_NE(std::string::npos, Ansi(run.Temp().Path()).find('?')) << "the folder name fits the code page";
    HWND form = StartForm(run);
    ASSERT_NE(static_cast<HWND>(NULL), form) << run.Driver().Report();
    ASSERT_TRUE(FillForm(run, L"s", L"h", L"x", L""));
    const std::string systemInfo = SystemInfoFromProfile(run);
    HWND box = run.SendAndWaitForBox();
    EXPECT_TRUE(IsThanksBox(run.Driver(), box));
    AcknowledgeThanks(run.Driver(), box);

    std::vector<StoredReport> reports = StoredReports();
    ASSERT_EQ(1u, reports.size());
    EXPECT_EQ(systemInfo, reports[0].fields["system_info"]);
    EXPECT_NE(std::string::npos, systemInfo.find("BREVORA_TEST="));
}

// Polls until the condition holds; false when timeoutMs passed first.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
}

int BarPosition(HWND box)
{
    return static_cast<int>(SendMessageW(GetDlgItem(box, IDC_SEND_PROGRESS), PBM_GETPOS, 0, 0));
}

// The bytes the slow line passed on for the reporter's one connection that
// has ended, or -1 while it has not (the look whether it listens sends nothing).
long long BytesOfEndedConnection()
{
    const std::string log = ReadSlowLinkLog();
    for (size_t at = log.find("closed "); at != std::string::npos; at = log.find("closed ", at + 1)) {
        const long long bytes = std::atoll(log.c_str() + at + 7);
        if (bytes > 0)
            return bytes;
    }
    return -1;
}

TEST_F(ReportUpload, SlowLineShowsTheProgressBoxAndCancelEndsTheRequestKeepingTheForm)
{
    std::string logBytes;
    while (logBytes.size() < 6u * 1024 * 1024)
        logBytes += "2026-01-05 10:00:00.000 library: scanning E:/music/" + std::to_string(logBytes.size()) + "\r\n";
    AppLog log(logBytes);
    std::string error;
    ASSERT_TRUE(SlowDownReportServer(1024 * 1024, error)) << error;
    FormRun run(L"upload-slow");
    HWND form = StartForm(run);
    ASSERT_NE(static_cast<HWND>(NULL), form) << run.Driver().Report();
    ASSERT_TRUE(FillForm(run, L"s", L"h", L"x", L"me@example.org"));
    UserDriver& driver = run.Driver();

    ASSERT_TRUE(driver.Click(form, IDC_SEND));
    HWND box = driver.WaitForDialog(kReporterCaption, IDC_SEND_PROGRESS, kWindowTimeoutMs);
    ASSERT_NE(static_cast<HWND>(NULL), box) << driver.Report();
    EXPECT_EQ(form, GetWindow(box, GW_OWNER));
    int first = 0;
    ASSERT_TRUE(WaitUntil([&] { return (first = BarPosition(box)) > 0; }, 10000)) << "the bar does not move";
    ASSERT_TRUE(WaitUntil([&] { return BarPosition(box) > first; }, 10000)) << "the bar stops at " << first;
    DWORD_PTR ignored = 0;
    EXPECT_NE(0, SendMessageTimeoutW(form, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 500, &ignored)) << "the form hangs";
    ASSERT_LT(BarPosition(box), 1000) << "sent before it could be cancelled";

    ASSERT_TRUE(driver.Click(box, IDCANCEL));
    const DWORD cancelled = GetTickCount();
    EXPECT_TRUE(driver.WaitForWindowGone(box, 1000)) << "the box stays after Cancel";
    // The line passes on what the reporter's system had buffered before it
    // sees the end: seconds at this rate, but far less than the whole body.
    long long passed = -1;
    EXPECT_TRUE(WaitUntil([&] { return (passed = BytesOfEndedConnection()) > 0; }, 10000)) << "the request goes on";
    std::printf("the line saw the request end %lu ms after Cancel, %lld bytes passed\n",
                static_cast<unsigned long>(GetTickCount() - cancelled), passed);
    EXPECT_LT(passed, static_cast<long long>(logBytes.size())) << "the whole body went out";
    ASSERT_TRUE(WaitUntilHandled(form));
    EXPECT_EQ(static_cast<HWND>(NULL), driver.WaitForMessageBox(kReporterCaption, 0)) << "a box after Cancel";
    EXPECT_TRUE(IsWindowVisible(form));
    EXPECT_EQ(L"s", ReadControl(form, IDC_STEPS));
    EXPECT_EQ(L"h", ReadControl(form, IDC_HAPPENED));
    EXPECT_EQ(L"x", ReadControl(form, IDC_SHOULDHAPPEN));
    EXPECT_EQ(L"me@example.org", ReadControl(form, IDC_EMAIL));
    EXPECT_TRUE(StoredReports().empty());

    // Send again, the server at full speed: stored once, the whole log.
    ASSERT_TRUE(StartReportServer("", error)) << error;
    HWND thanks = run.SendAndWaitForBox(60000);
    EXPECT_TRUE(IsThanksBox(driver, thanks));
    AcknowledgeThanks(driver, thanks);
    std::vector<StoredReport> reports = StoredReports();
    ASSERT_EQ(1u, reports.size());
    EXPECT_TRUE(reports[0].fields["attachment_log"] == logBytes);
}

// A body of one piece is out before Cancel can stop it, and the server
// stores it; the Send that follows is the same report, not a second one.
TEST_F(ReportUpload, CancelDuringAShortUploadThenSendStoresOnce)
{
    AppLog log("one line\n");
    std::string error;
    ASSERT_TRUE(SlowDownReportServer(2048, error)) << error;
    FormRun run(L"upload-cancel-short");
    HWND form = StartForm(run);
    ASSERT_NE(static_cast<HWND>(NULL), form) << run.Driver().Report();
    ASSERT_TRUE(FillForm(run, L"s", L"h", L"x", L"me@example.org"));
    ASSERT_TRUE(DeleteFileW(run.DxDiagPath().c_str()));  // a body of a few KiB
    UserDriver& driver = run.Driver();

    ASSERT_TRUE(driver.Click(form, IDC_SEND));
    HWND box = driver.WaitForDialog(kReporterCaption, IDC_SEND_PROGRESS, kWindowTimeoutMs);
    ASSERT_NE(static_cast<HWND>(NULL), box) << driver.Report();
    ASSERT_TRUE(driver.Click(box, IDCANCEL));
    ASSERT_TRUE(driver.WaitForWindowGone(box, 1000));
    std::vector<StoredReport> reports;
    ASSERT_TRUE(WaitUntil([&] { return !(reports = StoredReports()).empty(); }, 30000))
        << "the body on its way before Cancel never arrived";

    HWND thanks = run.SendAndWaitForBox(60000);
    EXPECT_TRUE(IsThanksBox(driver, thanks));
    AcknowledgeThanks(driver, thanks);
    EXPECT_EQ(1u, StoredReports().size());
}

// The server stored the report, but its 201 never came back: Retry sends the
// same report again, and it stays one.
TEST_F(ReportUpload, RetryAfterALostAnswerStoresOnce)
{
    AppLog log("one line\n");
    std::string error;
    ASSERT_TRUE(SlowDownReportServer(1L << 30, error, true)) << error;
    FormRun run(L"upload-lost-answer");
    HWND form = StartForm(run);
    ASSERT_NE(static_cast<HWND>(NULL), form) << run.Driver().Report();
    ASSERT_TRUE(FillForm(run, L"s", L"h", L"x", L"me@example.org"));
    UserDriver& driver = run.Driver();

    HWND box = run.SendAndWaitForBox();
    ASSERT_TRUE(IsFailureBox(driver, box, form));
    EXPECT_NE(std::string::npos, ReadSlowLinkLog().find("answer lost"));
    ASSERT_EQ(1u, StoredReports().size()) << "the first try was stored";
    ASSERT_TRUE(driver.Click(box, IDRETRY));
    ASSERT_TRUE(driver.WaitForWindowGone(box, 5000));
    HWND thanks = driver.WaitForMessageBox(kReporterCaption, kWindowTimeoutMs);
    EXPECT_TRUE(IsThanksBox(driver, thanks));
    AcknowledgeThanks(driver, thanks);
    EXPECT_EQ(1u, StoredReports().size());
}

}  // namespace
