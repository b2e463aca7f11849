#include "bugreport/report_gathering.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "bugreport/report_files.h"
#include "win32/scoped_handles.h"
#include "bugreport/app_log_path.h"
#include "report_format/file_payload.h"
#include "report_format/upload_body.h"
#include "report_format/section_text.h"
#include "res/resource.h"
#include "win32/fixed_texts.h"

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
    if (text.size() > static_cast<size_t>(kFieldTextLimit))
        text.resize(kFieldTextLimit);
    return text;
}

static bool ReadFromHandle(void* source, char* buffer, uint32_t size, uint32_t* got)
{
    DWORD read = 0;
    const BOOL ok = ReadFile(static_cast<HANDLE>(source), buffer, size, &read, NULL);
    *got = read;
    return ok != FALSE;
}

// Read-only and sharing everything: Brevora keeps its log open for writing
// while the user reports, and a missing file must not be created.
static std::string ReadFilePayloadAt(const WCHAR* path)
{
    ScopedHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL));
    const uint32_t size = file.IsValid() ? GetFileSize(file.Get(), NULL) : kNoFileSize;
    return ReadFilePayload(file.Get(), size, ReadFromHandle);
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

bool GatherReportBody(HWND hDlg, std::string& body)
{
    ReportTexts texts;
    texts.email = ReadEditText(hDlg, IDC_EMAIL);
    texts.steps = ReadEditText(hDlg, IDC_STEPS);
    texts.happened = ReadEditText(hDlg, IDC_HAPPENED);
    texts.shouldHappen = ReadEditText(hDlg, IDC_SHOULDHAPPEN);
    texts.systemInfo = ReadSystemInfoText();

    std::string dxdiag = ReadFilePayloadAt(g_szDxDiagPath);
    WCHAR logPath[kAppLogPathSize];
    GetAppLogPath(logPath);
    std::string log = ReadFilePayloadAt(logPath);
    return AssembleReportBody(texts, std::move(dxdiag), std::move(log), body);
}
