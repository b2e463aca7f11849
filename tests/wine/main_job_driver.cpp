// The main job's user on a machine without a display: starts the reporter,
// fills in the bug-report form as a person would, opens the details view,
// sends, and saves a screenshot of each step.
//
//   main_job_driver.exe REPORTER.exe SCREENSHOT-FOLDER
//
// Exit status 0 when the report was thanked for, 1 otherwise; what it saw
// and did goes to standard output.
#include <windows.h>

#include <cstdio>
#include <string>

#include "res/resource.h"
#include "tests/wine/screenshot.h"
#include "tests/wine/user_driver.h"

namespace {

const wchar_t kCaption[] = L"Brevora Bug Reporter";
const DWORD kTimeoutMs = 60000;

std::wstring g_folder;

bool Fail(UserDriver& driver, const char* what)
{
    std::printf("main job driver: %s\n%s", what, driver.Report().c_str());
    return false;
}

void Shoot(UserDriver& driver, HWND window, const wchar_t* name)
{
    Sleep(400);  // let the last change be painted
    const std::wstring path = g_folder + L"\\" + name + L".bmp";
    driver.Note(std::wstring(L"screenshot ") + name);
    if (!SaveWindowScreenshot(window, path))
        std::printf("main job driver: no screenshot %s\n", Narrow(name).c_str());
}

void ClickInto(HWND dialog, int id)
{
    HWND control = GetDlgItem(dialog, id);
    PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    PostMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
}

bool Describe(UserDriver& driver, HWND form, int id, const std::wstring& typed, const std::wstring& shown)
{
    ClickInto(form, id);
    return driver.Type(form, id, typed) && driver.WaitForText(form, id, shown, 10000);
}

bool Run(const std::wstring& reporter)
{
    UserDriver driver;
    // Loopback only: no proxy from the environment.
    const EnvironmentChanges env = { { L"http_proxy", L"" }, { L"HTTP_PROXY", L"" }, { L"all_proxy", L"" },
                                     { L"ALL_PROXY", L"" } };
    if (!driver.Start(reporter, L"", env))
        return Fail(driver, "cannot start the reporter");
    HWND form = driver.WaitForDialog(kCaption, IDC_SEND, kTimeoutMs);
    if (form == NULL)
        return Fail(driver, "no bug-report form");
    std::printf("main job driver: the form is open\n");
    Shoot(driver, form, L"form-examples");

    // The second component, by keyboard as a user would choose it.
    HWND list = GetDlgItem(form, IDC_ELEMENT);
    PostMessageW(list, WM_KEYDOWN, VK_DOWN, 1);
    PostMessageW(list, WM_KEYUP, VK_DOWN, 0xC0000001);
    if (!Describe(driver, form, IDC_STEPS, L"Opened the music section\rclicked \u201Cadd\u201D beside E:/",
                  L"Opened the music section\r\nclicked \u201Cadd\u201D beside E:/") ||
        !Describe(driver, form, IDC_HAPPENED, L"The scan ran for 5 minutes and nothing happened",
                  L"The scan ran for 5 minutes and nothing happened") ||
        !Describe(driver, form, IDC_SHOULDHAPPEN, L"The songs of the stick should be listed",
                  L"The songs of the stick should be listed"))
        return Fail(driver, "cannot type the descriptions");
    if (!driver.Click(form, IDC_ALLOWCONTACT) || !driver.WaitForText(form, IDC_EMAIL, L"", 10000) ||
        !driver.Type(form, IDC_EMAIL, L"anna@example.org") ||
        !driver.WaitForText(form, IDC_EMAIL, L"anna@example.org", 10000))
        return Fail(driver, "cannot give the address");
    std::printf("main job driver: the form is filled in\n");
    Shoot(driver, form, L"form-filled");

    if (!driver.Click(form, IDC_DETAILS))
        return Fail(driver, "no Details button");
    HWND details = driver.WaitForDialog(L"Details", IDCANCEL, kTimeoutMs);
    if (details == NULL)
        return Fail(driver, "no details view");
    Shoot(driver, details, L"form-details");
    driver.Click(details, IDCANCEL);
    if (!driver.WaitForWindowGone(details, 10000))
        return Fail(driver, "the details view does not close");

    if (!driver.Click(form, IDC_SEND))
        return Fail(driver, "no Send button");
    HWND box = driver.WaitForMessageBox(kCaption, kTimeoutMs);
    if (box == NULL)
        return Fail(driver, "no answer to Send");
    const WindowSnapshot answer = driver.Read(box);
    std::printf("main job driver: after Send: \"%s\"\n", Narrow(answer.messageText).c_str());
    Shoot(driver, box, L"upload-answer");
    const bool thanked = answer.messageText == L"Thanks for your bug report.";
    // Thanked: OK ends the program. Failed: Cancel, then Cancel on the form.
    driver.Click(box, thanked ? IDOK : IDCANCEL);
    if (!thanked) {
        driver.WaitForWindowGone(box, 10000);
        driver.Click(form, IDC_CANCEL);
    }
    if (!driver.WaitForExit(kTimeoutMs))
        return Fail(driver, "the reporter does not end");
    return thanked;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::printf("usage: main_job_driver.exe REPORTER.exe SCREENSHOT-FOLDER\n");
        return 2;
    }
    g_folder = argv[2];
    return Run(argv[1]) ? 0 : 1;
}
