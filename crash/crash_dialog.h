// The crash dialog (IDD_CRASH) and the thread that mails the crash report.
#pragma once

#include <windows.h>

#include <string>

#include "win32/string_map.h"

// Crash mode's parameter block for the sending thread. WinMain fills the
// paths before the dialog starts; Send Report adds the rest.
struct SendParams
{
    HWND hDlg;
    std::string dumpPath;
    std::string confPath;
    std::string logPath;
    std::string version;  // the installed Brevora's, UTF-8; empty when none
    StringMap fields;
    // Set by the sending thread before it ends: neither the mail nor the
    // upload delivered the report (a mail the user discarded counts as
    // delivered: the user chose); and whether it is kept for the next start.
    bool unsent;
    bool kept;
};

extern SendParams g_sendParams;
// The dialog's input: "Comments" holds the comment in UTF-8 while it is not empty.
extern StringMap g_crashFields;
// The sending thread; null until Send Report is pressed.
extern HANDLE g_hSendThread;

INT_PTR CALLBACK CrashDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void OnCommentsChanged(HWND hwnd);
void OnSendReport(HWND hwnd);
DWORD WINAPI SendThreadProc(LPVOID parameter);

// The folder that holds the dump (of an empty path: the current folder), as
// the warning about an unsent report names it.
std::wstring GetDumpFolder(const std::string& dumpPath);

// True while a sending thread has been started and has not ended.
bool IsSendThreadRunning();
