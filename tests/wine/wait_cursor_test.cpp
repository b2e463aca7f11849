// The cursor of Send, in-process (another process cannot read the dialog
// class): the upload goes on behind its progress box while the form stays
// usable, so the class cursor is left alone, also while the server holds
// the upload, and is the one from before Send once Send leaves the form open
// (a refused form, a failed upload that the user cancels).
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "bugreport/report_files.h"
#include "bugreport/bugreport_dialog.h"
#include "bugreport/form_examples.h"
#include "bugreport/send_report.h"
#include "res/resource.h"
#include "tests/wine/holding_server.h"

namespace {

const DWORD kBoxTimeoutMs = 30000;

// Presses a button of the first message box this process shows, once it
// is up.
void AnswerMessageBox(int buttonId, std::atomic<bool>& done)
{
    const DWORD start = GetTickCount();
    while (!done && GetTickCount() - start < kBoxTimeoutMs) {
        HWND box = FindWindowW(L"#32770", L"Brevora Bug Reporter");
        if (box != NULL && GetDlgItem(box, buttonId) != NULL && IsWindowVisible(box)) {
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), 0);
            return;
        }
        Sleep(20);
    }
}

struct CursorRow
{
    const char* name;
    bool describe;  // all three descriptions given: the upload runs
    int answer;
};

void PrintTo(const CursorRow& row, std::ostream* os)
{
    *os << row.name;
}

class WaitCursor : public ::testing::TestWithParam<CursorRow> {};

TEST_P(WaitCursor, NotShownWhileTheServerHoldsTheUploadNorAfter)
{
    const CursorRow& row = GetParam();
    WCHAR folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    ASSERT_NE(0u, GetTempFileNameW(folder, L"KRP", 0, g_szProfilePath));
    HWND form = CreateDialogParamW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDD_BUGREPORT), NULL, BugReportDlgProc, 0);
    ASSERT_NE(static_cast<HWND>(NULL), form);
    if (row.describe) {
        g_bStepsCleared = g_bHappenedCleared = g_bShouldHappenCleared = 1;
        for (int id : { IDC_STEPS, IDC_HAPPENED, IDC_SHOULDHAPPEN })
            SetDlgItemTextW(form, id, L"text");
    } else {
        g_bStepsCleared = g_bHappenedCleared = g_bShouldHappenCleared = 0;
    }
    // Listening only now: the form's query for the component list finds no
    // server and does not wait.
    HoldingServer server;
    ASSERT_TRUE(server.IsListening()) << "the report server's port is taken";
    const ULONG_PTR before = GetClassLongPtrW(form, GCLP_HCURSOR);
    ASSERT_NE(0u, before);
    const ULONG_PTR wait = reinterpret_cast<ULONG_PTR>(LoadCursorW(NULL, IDC_WAIT));

    // Send runs on this thread; the server's side and the user's run beside it.
    std::atomic<bool> done(false);
    ULONG_PTR whileHeld = 0;
    bool held = false;
    std::thread serverSide([&] {
        if (!row.describe)
            return;
        held = server.WaitForRequests(1, kBoxTimeoutMs);
        whileHeld = GetClassLongPtrW(form, GCLP_HCURSOR);
        server.AnswerAll("HTTP/1.1 500 Internal Server Error");
    });
    std::thread user(AnswerMessageBox, row.answer, std::ref(done));
    SendBugReport(form);
    done = true;
    serverSide.join();
    user.join();

    if (row.describe) {
        ASSERT_TRUE(held) << "no upload reached the server";
        EXPECT_EQ(0u, server.RequestLines()[0].find("POST /bugreport/report/ ")) << server.RequestLines()[0];
        EXPECT_EQ(before, whileHeld) << "another cursor while the server held the upload";
        EXPECT_NE(wait, whileHeld) << "the wait cursor over a form that stays usable";
    } else {
        EXPECT_TRUE(server.RequestLines().empty()) << "a refused form was sent";
    }
    EXPECT_TRUE(IsWindow(form)) << "the form stays";
    EXPECT_EQ(before, GetClassLongPtrW(form, GCLP_HCURSOR));
    EXPECT_NE(wait, GetClassLongPtrW(form, GCLP_HCURSOR));
    DestroyWindow(form);
    DeleteFileW(g_szProfilePath);
}

INSTANTIATE_TEST_SUITE_P(Rows, WaitCursor, ::testing::Values(
    CursorRow{ "RefusedForm", false, IDOK },
    CursorRow{ "FailedUploadCancelled", true, IDCANCEL }
), [](const ::testing::TestParamInfo<CursorRow>& info) { return std::string(info.param.name); });

}  // namespace
