#include "bugreport/report_gathering.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string>

#include "bugreport/report_files.h"
#include "bugreport/report_origin.h"
#include "win32/scoped_handles.h"
#include "bugreport/app_log_path.h"
#include "report_format/upload_body.h"
#include "report_format/section_text.h"
#include "res/resource.h"
#include "win32/fixed_texts.h"
#include "win32/narrow_text.h"

#include <userenv.h>

// The most an edit or the section gives: 2 MiB less the terminator, so the
// texts alone always fit the body and only the files are ever cut.
static const int kFieldTextLimit = 0x200000 - 1;
static const DWORD kSectionUnits = 0x200000;

// The edit's text in the ANSI code page, as the server stores it.
static std::string ReadEditText(HWND hDlg, int id)
{
    HWND edit = GetDlgItem(hDlg, id);
    const int length = std::min(GetWindowTextLengthA(edit), kFieldTextLimit);
    if (length <= 0)
        return std::string();
    std::string text(static_cast<size_t>(length) + 1, '\0');
    const int got = GetWindowTextA(edit, &text[0], length + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

// Every entry of [System Information], one per line. Read through the wide
// service, so a profile path outside the ANSI code page still works; the
// profile holds ANSI text, so the conversion back gives its bytes.
static std::string ReadSystemInfoText()
{
    std::unique_ptr<WCHAR[]> block(new (std::nothrow) WCHAR[kSectionUnits]);
    if (!block)
        return std::string();
    const DWORD units = GetPrivateProfileSectionW(kProfileSectionSystemInfo, block.get(), kSectionUnits, g_szProfilePath);
    if (units == 0)
        return std::string();
    const int bytes = WideCharToMultiByte(CP_ACP, 0, block.get(), static_cast<int>(units), NULL, 0, NULL, NULL);
    if (bytes <= 0)
        return std::string();
    std::string text(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, block.get(), static_cast<int>(units), &text[0], bytes, NULL, NULL);
    text.resize(JoinSectionEntries(&text[0], text.size()));
    return text;
}

// "\.brevora\brevora.log" under the user's profile directory, or "." when
// there is none or the path would be too long.
static void GetAppLogPath(WCHAR* path)
{
    HANDLE rawToken = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken)) {
        ComposeAppLogPath(NULL, path, kAppLogPathSize);
        return;
    }
    ScopedHandle token(rawToken);
    DWORD length = 0;
    GetUserProfileDirectoryW(token.Get(), NULL, &length);
    std::unique_ptr<WCHAR[]> directory(new (std::nothrow) WCHAR[static_cast<size_t>(length) + 1]());
    if (length == 0 || !directory || !GetUserProfileDirectoryW(token.Get(), directory.get(), &length))
        directory.reset();
    ComposeAppLogPath(directory ? directory.get() : NULL, path, kAppLogPathSize);
}

ReportToSend GatherReport(HWND hDlg)
{
    ReportToSend report;
    report.texts.email = ReadEditText(hDlg, IDC_EMAIL);
    report.texts.steps = ReadEditText(hDlg, IDC_STEPS);
    report.texts.happened = ReadEditText(hDlg, IDC_HAPPENED);
    report.texts.shouldHappen = ReadEditText(hDlg, IDC_SHOULDHAPPEN);
    // The component, the version and the texts' code page ride at the end of
    // record 5, so servers that parse the nine records as they always were
    // still accept the body.
    report.texts.systemInfo = ReadSystemInfoText();
    const std::string tail = FormatSectionTail(ReadEditText(hDlg, IDC_ELEMENT), NarrowText(CP_ACP, g_szInstalledVersion), GetACP());
    AppendSectionTail(report.texts.systemInfo, tail, static_cast<size_t>(kFieldTextLimit));
    report.dxdiagPath = g_szDxDiagPath;
    WCHAR logPath[kAppLogPathSize];
    GetAppLogPath(logPath);
    report.logPath = logPath;
    return report;
}
