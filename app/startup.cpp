#include "app/startup.h"

#include <shellapi.h>
#include <wininet.h>

#include <cstdio>
#include <cwchar>
#include <memory>

#include "bugreport/report_files.h"
#include "bugreport/report_origin.h"
#include "win32/fixed_texts.h"
#include "win32/scoped_handles.h"
#include "app/update_address.h"
#include "bugreport/server_queries.h"

static const WCHAR kOfflineText[] = L"Connect your computer to internet if you want to report a problem.";
static const WCHAR kUpdateText[] =
    L"You are not using the latest version of Brevora.\nDo you want to update it before reporting a bug?";

// The installed version is read with a size of 260 bytes: at most 129
// characters and the terminator.
static const DWORD kInstalledVersionBytes = 260;
static const DWORD kLatestVersionChars = 2048;

bool RunOnlineCheck()
{
    for (;;) {
        DWORD flags = 0;
        if (InternetGetConnectedState(&flags, 0))
            return true;
        int answer = MessageBoxW(NULL, kOfflineText, kCaption, MB_RETRYCANCEL | MB_ICONWARNING);
        if (answer == IDCANCEL)
            return false;
        if (answer != IDRETRY)
            return true;  // the box could not be shown
    }
}

void GetInstalledVersion(WCHAR* buffer, DWORD* size)
{
    if (buffer == NULL || size == NULL)
        return;
    HKEY key = NULL;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Brevora", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return;
    ScopedKey keyGuard(key);

    const DWORD capacity = *size / sizeof(WCHAR);
    LONG result = RegQueryValueExW(key, L"Version", NULL, NULL, reinterpret_cast<BYTE*>(buffer), size);
    if (capacity == 0)
        return;
    if (result != ERROR_SUCCESS) {
        // ERROR_MORE_DATA leaves the buffer's content undefined.
        buffer[0] = L'\0';
        return;
    }
    // Registry strings need not end in a terminator; one that does not fit is
    // treated like a value too long to read.
    DWORD length = *size / sizeof(WCHAR);
    if (length > 0 && buffer[length - 1] == L'\0')
        return;
    if (length < capacity)
        buffer[length] = L'\0';
    else
        buffer[0] = L'\0';
}

void ReadInstalledVersion()
{
    g_szInstalledVersion[0] = L'\0';
    DWORD size = kInstalledVersionBytes;
    GetInstalledVersion(g_szInstalledVersion, &size);
}

bool RunVersionCheck()
{
    ReadInstalledVersion();
    const WCHAR* installed = g_szInstalledVersion;
    if (installed[0] == L'\0')
        return true;  // nothing to compare: the server is not asked

    std::unique_ptr<WCHAR[]> latest(new WCHAR[kLatestVersionChars]());
    std::unique_ptr<WCHAR[]> url(new WCHAR[kLatestVersionChars]());
    GetLatestVersion(latest.get(), kLatestVersionChars, url.get(), kLatestVersionChars);
    if (latest[0] == L'\0' || std::wcscmp(installed, latest.get()) == 0)
        return true;

    if (MessageBoxW(NULL, kUpdateText, kCaption, MB_YESNO | MB_ICONINFORMATION) != IDYES)
        return false;
    // The address comes from the network and becomes the browser's command
    // line: anything but a plain web address is dropped.
    if (IsBrowsableUpdateAddress(url.get()))
        ShellExecuteW(NULL, L"open", L"iexplore.exe", url.get(), NULL, SW_SHOWNORMAL);
    return true;
}

bool CreateTempFiles()
{
    WCHAR directory[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, directory);
    if (length == 0 || length > MAX_PATH) {
        std::printf("GetTempPath failed (%d)\n", static_cast<int>(GetLastError()));
        return false;
    }
    if (GetTempFileNameW(directory, L"KRP", 0, g_szProfilePath) == 0) {
        std::printf("GetTempFileName failed (%d)\n", static_cast<int>(GetLastError()));
        return false;
    }
    if (GetTempFileNameW(directory, L"KRP", 0, g_szDxDiagPath) == 0) {
        std::printf("GetTempFileName failed (%d)\n", static_cast<int>(GetLastError()));
        return false;
    }
    // Shared so that the profile functions can write the file by its path
    // while this handle stays open for the life of the process.
    g_hProfile = CreateFileW(g_szProfilePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (g_hProfile == INVALID_HANDLE_VALUE) {
        std::printf("CreateFile failed (%d)\n", static_cast<int>(GetLastError()));
        return false;
    }
    return true;
}
