// The wait cursor of Send, in-process (another process cannot read the
// dialog class): after a refused form and after a failed upload that the user
// cancels, the class cursor is the one from before Send.
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

namespace {

// Presses a button of the first message box this process shows.
void AnswerMessageBox(int buttonId, std::atomic<bool>& answered)
{
    for (int i = 0; i < 1500 && !answered; ++i) {
        HWND box = FindWindowW(L"#32770", L"Brevora Bug Reporter");
        if (box != NULL && GetDlgItem(box, buttonId) != NULL && IsWindowVisible(box)) {
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), 0);
            answered = true;
            return;
        }
        Sleep(20);
    }
}

struct CursorRow
{
    const char* name;
    bool describe;  // all three descriptions given: the upload runs (no server: it fails)
    int answer;
};

void PrintTo(const CursorRow& row, std::ostream* os)
{
    *os << row.name;
}

class WaitCursor : public ::testing::TestWithParam<CursorRow> {};

TEST_P(WaitCursor, IsPutBackWhenSendLeavesTheFormOpen)
{
    WCHAR folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    ASSERT_NE(0u, GetTempFileNameW(folder, L"KRP", 0, g_szProfilePath));
    HWND form = CreateDialogParamW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDD_BUGREPORT), NULL, BugReportDlgProc, 0);
    ASSERT_NE(static_cast<HWND>(NULL), form);
    if (GetParam().describe) {
        g_bStepsCleared = g_bHappenedCleared = g_bShouldHappenCleared = 1;
        for (int id : { IDC_STEPS, IDC_HAPPENED, IDC_SHOULDHAPPEN })
            SetDlgItemTextW(form, id, L"text");
    } else {
        g_bStepsCleared = g_bHappenedCleared = g_bShouldHappenCleared = 0;
    }
    const ULONG_PTR before = GetClassLongPtrW(form, GCLP_HCURSOR);
    ASSERT_NE(0u, before);

    std::atomic<bool> answered(false);
    std::thread answerer(AnswerMessageBox, GetParam().answer, std::ref(answered));
    SendBugReport(form);
    answered = true;
    answerer.join();

    EXPECT_TRUE(IsWindow(form)) << "the form stays";
    EXPECT_EQ(before, GetClassLongPtrW(form, GCLP_HCURSOR));
    EXPECT_NE(reinterpret_cast<ULONG_PTR>(LoadCursorW(NULL, IDC_WAIT)), GetClassLongPtrW(form, GCLP_HCURSOR));
    DestroyWindow(form);
    DeleteFileW(g_szProfilePath);
}

INSTANTIATE_TEST_SUITE_P(Rows, WaitCursor, ::testing::Values(
    CursorRow{ "RefusedForm", false, IDOK },
    CursorRow{ "FailedUploadCancelled", true, IDCANCEL }
), [](const ::testing::TestParamInfo<CursorRow>& info) { return std::string(info.param.name); });

}  // namespace
