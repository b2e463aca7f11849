// Shows each of the reporter's dialogs from the built executable's resources,
// checks the live windows the dialog manager made of them and saves a
// screenshot of each under screenshots/ in the test's folder.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/wine/expected_dialogs.h"
#include "tests/wine/screenshot.h"
#include "tests/wine/test_support.h"

namespace {

INT_PTR CALLBACK ShowOnlyDlgProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

std::wstring ClassOf(HWND hwnd)
{
    WCHAR name[64] = {};
    GetClassNameW(hwnd, name, 64);
    return name;
}

std::wstring TextOf(HWND hwnd)
{
    std::vector<WCHAR> text(GetWindowTextLengthW(hwnd) + 1);
    GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()));
    return text.data();
}

const wchar_t* ClassNameOfAtom(WORD atom)
{
    switch (atom) {
    case kAtomButton: return L"Button";
    case kAtomEdit: return L"Edit";
    case kAtomStatic: return L"Static";
    case kAtomComboBox: return L"ComboBox";
    }
    return L"?";
}

class DialogShownTest : public ::testing::TestWithParam<ExpectedDialog> {};

TEST_P(DialogShownTest, ControlsExistWithTheirTextsInTabOrder)
{
    const ExpectedDialog& want = GetParam();
    HMODULE module = LoadLibraryExW(GetBuiltFile(L"brevora-bugreporter.exe").c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module);

    INITCOMMONCONTROLSEX classes = { sizeof(classes), ICC_PROGRESS_CLASS };
    InitCommonControlsEx(&classes);
    HWND dialog = CreateDialogParamW(module, MAKEINTRESOURCEW(want.resourceId), NULL, ShowOnlyDlgProc, 0);
    ASSERT_NE(nullptr, dialog);
    ShowWindow(dialog, SW_SHOWNORMAL);
    UpdateWindow(dialog);
    ASSERT_TRUE(WaitUntilDrawnOnScreen(dialog, 10000));

    EXPECT_EQ(std::wstring(want.title), TextOf(dialog));
    EXPECT_EQ(want.exStyle & WS_EX_TOPMOST, static_cast<DWORD>(GetWindowLongW(dialog, GWL_EXSTYLE)) & WS_EX_TOPMOST);

    std::vector<HWND> children;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != NULL; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    ASSERT_EQ(want.controls.size(), children.size());
    for (size_t i = 0; i < children.size(); ++i) {
        const ExpectedControl& w = want.controls[i];
        SCOPED_TRACE("control #" + std::to_string(i + 1));
        EXPECT_EQ(static_cast<int>(w.id), GetDlgCtrlID(children[i]));
        EXPECT_EQ(std::wstring(w.className != nullptr ? w.className : ClassNameOfAtom(w.classAtom)), ClassOf(children[i]));
        if (w.classAtom != kAtomComboBox) {
            EXPECT_EQ(std::wstring(w.text), TextOf(children[i]));
        }
        if (static_cast<int>(w.id) != IDC_STATIC) {
            EXPECT_EQ(children[i], GetDlgItem(dialog, static_cast<int>(w.id)));
        }
        EXPECT_EQ((w.style & WS_DISABLED) == 0, IsWindowEnabled(children[i]) != FALSE);
        EXPECT_TRUE(IsWindowVisible(children[i]));
    }

    if (want.style & DS_CENTER) {
        RECT rc;
        GetWindowRect(dialog, &rc);
        const int screenCx = GetSystemMetrics(SM_CXSCREEN), screenCy = GetSystemMetrics(SM_CYSCREEN);
        EXPECT_NEAR(screenCx / 2, (rc.left + rc.right) / 2, 2) << "not centred horizontally";
        EXPECT_NEAR(screenCy / 2, (rc.top + rc.bottom) / 2, 2) << "not centred vertically";
    }

    CreateDirectoryW(L"screenshots", NULL);
    std::wstring path = L"screenshots\\";
    for (const char* p = want.name; *p; ++p)
        path += static_cast<wchar_t>(*p);
    path += L".bmp";
    EXPECT_TRUE(SaveWindowScreenshot(dialog, path));

    DestroyWindow(dialog);
    FreeLibrary(module);
}

INSTANTIATE_TEST_SUITE_P(Dialogs, DialogShownTest, ::testing::ValuesIn(ExpectedDialogs()),
                         [](const ::testing::TestParamInfo<ExpectedDialog>& info) { return std::string(info.param.name); });

}  // namespace
