#include "bugreport/system_info.h"

#include <shellapi.h>
#include <shlobj.h>

#include <climits>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <new>

#include "bugreport/report_files.h"
#include "win32/scoped_handles.h"
#include "bugreport/report_profile.h"
#include "win32/fixed_texts.h"

// The tool's fixed place, not derived from the system folder.
static const WCHAR kDxDiagPath[] = L"C:\\Windows\\system32\\dxdiag.exe";
static const WCHAR kDxDiagDirectory[] = L"C:\\Windows\\system32";
static const WCHAR kDxDiagTextSwitch[] = L"/t ";
static const size_t kDxDiagParametersChars = MAX_PATH;

// The tool may write its report after it has ended: wait up to 100 checks
// of the report's size, 500 ms apart (some 50 seconds).
int g_nReportChecks = 100;
static const DWORD kReportCheckIntervalMs = 500;

DWORD g_dwDxDiagWaitMs = 120000;


// One buffer serves every expansion: the largest an environment value can be.
static const DWORD kExpansionChars = 32767;

static const struct {
    const WCHAR* name;
    const WCHAR* reference;
} kEnvironmentVariables[] = {
    { L"PATH", L"%PATH%" },
    { L"HOMEPATH", L"%HOMEPATH%" },
    { L"TEMP", L"%TEMP%" },
    { L"USERNAME", L"%USERNAME%" },
    { L"USERPROFILE", L"%USERPROFILE%" },
    { L"GST_PLUGIN_PATH", L"%GST_PLUGIN_PATH%" },
    { L"GTKMM_BASEPATH", L"%GTKMM_BASEPATH%" },
    { L"PYTHONPATH", L"%PYTHONPATH%" },
};

// The 32-bit launch record is 60 bytes; the 64-bit one is larger.
static_assert(sizeof(void*) != 4 || sizeof(SHELLEXECUTEINFOW) == 60, "unexpected SHELLEXECUTEINFOW layout");

namespace {

// Frees an item ID list made by ILCreateFromPathW.
struct ScopedIdList
{
    PIDLIST_ABSOLUTE list;
    explicit ScopedIdList(PIDLIST_ABSOLUTE idList) : list(idList) {}
    ~ScopedIdList() { if (list != NULL) ILFree(list); }
    ScopedIdList(const ScopedIdList&) = delete;
    ScopedIdList& operator=(const ScopedIdList&) = delete;
};

}  // namespace

DxDiagRun RunDxDiag()
{
    WCHAR parameters[kDxDiagParametersChars] = {};
    lstrcpynW(parameters, kDxDiagTextSwitch, kDxDiagParametersChars);
    size_t used = wcslen(parameters);
    lstrcpynW(parameters + used, g_szDxDiagPath, static_cast<int>(kDxDiagParametersChars - used));

    // With SEE_MASK_INVOKEIDLIST Windows makes the item's ID list from lpFile
    // when none is given; Wine's shell does not and starts nothing. So the
    // list is made here; a missing tool gives none, and the start then fails
    // as it would without it.
    ScopedIdList idList(ILCreateFromPathW(kDxDiagPath));

    SHELLEXECUTEINFOW launch = {};
    launch.cbSize = sizeof(launch);
    launch.fMask = SEE_MASK_INVOKEIDLIST | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOCLOSEPROCESS;
    launch.hwnd = NULL;
    launch.lpVerb = L"open";
    launch.lpFile = kDxDiagPath;
    launch.lpParameters = parameters;
    launch.lpDirectory = kDxDiagDirectory;
    launch.nShow = SW_SHOWNORMAL;
    launch.lpIDList = idList.list;

    if (!ShellExecuteExW(&launch))
        return DXDIAG_NOT_STARTED;
    if (launch.hProcess == NULL)
        return DXDIAG_ENDED;
    // A tool that hangs must not hang the reporter: it is left running.
    ScopedHandle process(launch.hProcess);
    return WaitForSingleObject(process.Get(), g_dwDxDiagWaitMs) == WAIT_TIMEOUT ? DXDIAG_STILL_RUNNING : DXDIAG_ENDED;
}

// Takes the report's size until it is not 0, sleeping after every check,
// the one that finds the report included. INVALID_FILE_SIZE ends the wait too.
static DWORD WaitForReportSize(HANDLE report, int checks)
{
    DWORD size = 0;
    for (int check = 0; check < checks; ++check) {
        size = GetFileSize(report, NULL);
        Sleep(kReportCheckIntervalMs);
        if (size != 0)
            break;
    }
    return size;
}

void ImportDxDiagReport(bool waitForReport)
{
    ScopedHandle report(CreateFileW(g_szDxDiagPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL));
    if (!report.IsValid()) {
        std::printf("CreateFile failed (%d)\n", static_cast<int>(GetLastError()));
        return;
    }

    DWORD size = waitForReport ? WaitForReportSize(report.Get(), g_nReportChecks) : GetFileSize(report.Get(), NULL);
    // The conversion takes an int count; a report of 2 GB or more is not read.
    if (size == 0 || size == INVALID_FILE_SIZE || size > static_cast<DWORD>(INT_MAX))
        return;

    std::unique_ptr<char[]> bytes(new (std::nothrow) char[static_cast<size_t>(size) + 1]);
    if (!bytes)
        return;
    DWORD read = 0;
    if (!ReadFile(report.Get(), bytes.get(), size, &read, NULL) || read != size)
        return;
    bytes[size] = '\0';

    // The byte count is given, so the count of units has no terminator in it.
    const int byteCount = static_cast<int>(size);
    int units = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, bytes.get(), byteCount, NULL, 0);
    if (units <= 0)
        return;
    std::unique_ptr<WCHAR[]> text(new (std::nothrow) WCHAR[static_cast<size_t>(units) + 1]);
    if (!text)
        return;
    int converted = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, bytes.get(), byteCount, text.get(), units);
    if (converted <= 0)
        return;
    text[converted] = L'\0';

    // The service writes up to the first NUL: a report with a NUL ends there.
    WritePrivateProfileStringW(kProfileSectionDxDiag, kProfileKeyContent, text.get(), g_szProfilePath);
}

void CollectEnvironment()
{
    std::unique_ptr<WCHAR[]> expansion(new (std::nothrow) WCHAR[kExpansionChars]);
    if (!expansion)
        return;
    for (const auto& variable : kEnvironmentVariables) {
        DWORD length = ExpandEnvironmentStringsW(variable.reference, expansion.get(), kExpansionChars);
        // An expansion that failed or did not fit leaves the buffer undefined:
        // the reference is written as it stands instead.
        const WCHAR* value = (length == 0 || length > kExpansionChars) ? variable.reference : expansion.get();
        WriteSystemInfo(variable.name, value);
    }
}
