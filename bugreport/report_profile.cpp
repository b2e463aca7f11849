#include "bugreport/report_profile.h"

#include <memory>
#include <new>

#include "bugreport/report_files.h"
#include "win32/fixed_texts.h"


// The outcome of each write is not looked at: a failed write leaves the file
// as it was, and there is nothing the user could do about it.

void WriteProfileField(HWND control, const WCHAR* key)
{
    int length = GetWindowTextLengthW(control);
    if (length <= 0)
        return;
    std::unique_ptr<WCHAR[]> text(new (std::nothrow) WCHAR[static_cast<size_t>(length) + 1]);
    if (!text)
        return;
    text[0] = L'\0';
    GetWindowTextW(control, text.get(), length + 1);
    WritePrivateProfileStringW(kProfileSectionBugReport, key, text.get(), g_szProfilePath);
}

void WriteSystemInfo(const WCHAR* key, const WCHAR* value)
{
    WritePrivateProfileStringW(kProfileSectionSystemInfo, key, value, g_szProfilePath);
}
