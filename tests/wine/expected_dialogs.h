// What each of the reporter's five dialog templates must hold, control by
// control in template order. Used by the template test (bytes of the
// resource) and by the test that shows the dialogs (live windows).
#pragma once

#include <windows.h>

#include <vector>

#include "res/resource.h"

enum : WORD
{
    kAtomButton = 0x0080,
    kAtomEdit = 0x0081,
    kAtomStatic = 0x0082,
    kAtomComboBox = 0x0085,
};

struct ExpectedControl
{
    DWORD id;
    WORD classAtom;  // 0: the class is given by name
    const wchar_t* text;
    DWORD style;
    short x, y, cx, cy;
    const wchar_t* className = nullptr;
};

struct ExpectedDialog
{
    const char* name;
    WORD resourceId;
    const wchar_t* title;
    DWORD style;
    DWORD exStyle;
    short cx, cy;
    std::vector<ExpectedControl> controls;
};

inline std::vector<ExpectedDialog> ExpectedDialogs()
{
    const DWORD kStatic = static_cast<DWORD>(IDC_STATIC);
    return {
        { "Crash", IDD_CRASH, L"Brevora Crash Reporting Tool", 0x10C80ACB, 0x00040008, 267, 183, {
            { IDC_SEND, kAtomButton, L"Send Report", 0x50010001, 154, 161, 50, 14 },
            { IDC_DONTSEND, kAtomButton, L"Don't send", 0x50010000, 207, 161, 50, 14 },
            { IDC_HEADLINE, kAtomStatic, L"Brevora has encountered a problem and needs to close.", 0x50020200, 7, 7, 250, 11 },
            { kStatic, kAtomStatic, L"We have created a crash report that you can send to us to help improve the application.  We will treat this report as confidential and anonymous.", 0x50020000, 7, 23, 250, 27 },
            { kStatic, kAtomStatic, L"To help us diagnose the cause of this error and improve this software, please enter your email address and describe what you were doing when the error ocurred:", 0x50020000, 7, 47, 250, 31 },
            { IDC_COMMENTS, kAtomEdit, L"", 0x50811044, 7, 78, 250, 73 },
        } },
        { "BugReport", IDD_BUGREPORT, L"Brevora Bug Reporter", 0x10C80ACB, 0x00040008, 267, 268, {
            { IDC_SEND, kAtomButton, L"Send", 0x50010001, 207, 246, 50, 14 },
            { IDC_CANCEL, kAtomButton, L"Cancel", 0x50010000, 152, 246, 50, 14 },
            { kStatic, kAtomStatic, L"Thank you for participating in the Brevora project! You are helping us to improve the software and make your experience better. You might be able to directly get in touch with our developers.", 0x50020000, 7, 7, 250, 25 },
            { kStatic, kAtomStatic, L"Which element are you reporting the bug on?", 0x50020000, 7, 38, 146, 10 },
            { IDC_ELEMENT, kAtomComboBox, L"", 0x50210003, 159, 36, 98, 48 },
            { kStatic, kAtomStatic, L"Please describe what have you been doing:", 0x50020000, 7, 55, 204, 8 },
            { IDC_STEPS, kAtomEdit, L"", 0x50A11044, 7, 68, 250, 30 },
            { kStatic, kAtomStatic, L"Describe what happened:", 0x50020000, 7, 104, 83, 8 },
            { IDC_HAPPENED, kAtomEdit, L"", 0x50A11044, 7, 116, 250, 30 },
            { kStatic, kAtomStatic, L"Describe what should have happened:", 0x50020000, 7, 150, 150, 8 },
            { IDC_SHOULDHAPPEN, kAtomEdit, L"", 0x50A11044, 7, 161, 250, 30 },
            { IDC_ALLOWCONTACT, kAtomButton, L"Allow the Brevora developers to contact me about this problem.", 0x50010003, 7, 200, 250, 12 },
            { IDC_EMAIL, kAtomEdit, L"", 0x58810080, 7, 217, 250, 14 },
            { IDC_DETAILS, kAtomButton, L"Details...", 0x50010000, 85, 246, 50, 14 },
        } },
        { "Details", IDD_DETAILS, L"Details", 0x80C800C8, 0, 316, 184, {
            { IDCANCEL, kAtomButton, L"Close", 0x50010000, 259, 163, 50, 14 },
            { IDC_DETAILS, kAtomEdit, L"", 0x50A10884, 7, 7, 302, 152 },
        } },
        { "Wait", IDD_WAIT, L"", 0x80880048, 0, 226, 53, {
            { kStatic, kAtomStatic, L"Please wait while we are gathering system information...", 0x50020000, 18, 20, 201, 8 },
        } },
        { "Sending", IDD_SENDING, L"Brevora Bug Reporter", 0x80C808C8, 0, 200, 62, {
            { kStatic, kAtomStatic, L"Sending your bug report...", 0x50020000, 10, 10, 180, 8 },
            { IDC_SEND_PROGRESS, 0, L"", 0x50800000, 10, 23, 180, 10, L"msctls_progress32" },
            { IDCANCEL, kAtomButton, L"Cancel", 0x50010000, 75, 41, 50, 14 },
        } },
    };
}
