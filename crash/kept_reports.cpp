#include "crash/kept_reports.h"

#include <shlobj.h>

#include <algorithm>
#include <cstdio>

#include "crash/kept_reports_bound.h"
#include "win32/scoped_handles.h"

static const WCHAR kKeptFolder[] = L"\\Brevora\\Unsent crash reports";
static const WCHAR kKeptSuffix[] = L".crash";
static const WCHAR kPartialSuffix[] = L".partial";

std::wstring GetKeptReportsFolder(bool create)
{
    WCHAR base[MAX_PATH];
    if (FAILED(SHGetFolderPathW(NULL, CSIDL_LOCAL_APPDATA | (create ? CSIDL_FLAG_CREATE : 0), NULL,
                                SHGFP_TYPE_CURRENT, base)))
        return std::wstring();
    const std::wstring folder = std::wstring(base) + kKeptFolder;
    if (create) {
        const int made = SHCreateDirectoryExW(NULL, folder.c_str(), NULL);
        if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS)
            return std::wstring();
    }
    return GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES ? std::wstring() : folder;
}

namespace {

bool EndsWith(const std::wstring& text, const WCHAR* suffix)
{
    const size_t length = wcslen(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

// "20261208T173000123Z-<key>.crash": the time sorts, the key follows the dash.
std::wstring MakeKeptName(const std::wstring& key)
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    WCHAR time[32];
    swprintf(time, 32, L"%04u%02u%02uT%02u%02u%02u%03uZ-", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
             now.wSecond, now.wMilliseconds);
    return time + key + kKeptSuffix;
}

bool WriteToFile(void* file, const char* bytes, size_t length)
{
    while (length > 0) {
        DWORD written = 0;
        const DWORD piece = static_cast<DWORD>(std::min<size_t>(length, 1u << 20));
        if (!WriteFile(static_cast<HANDLE>(file), bytes, piece, &written, NULL) || written == 0)
            return false;
        bytes += written;
        length -= written;
    }
    return true;
}

}  // namespace

std::vector<KeptReport> ListKeptReports()
{
    std::vector<KeptReport> reports;
    const std::wstring folder = GetKeptReportsFolder(false);
    if (folder.empty())
        return reports;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*" + kKeptSuffix).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return reports;
    do {
        const std::wstring name = found.cFileName;
        const size_t dash = name.find(L'-');
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || dash == std::wstring::npos ||
            !EndsWith(name, kKeptSuffix))
            continue;
        KeptReport report;
        report.path = folder + L"\\" + name;
        report.key = name.substr(dash + 1, name.size() - dash - 1 - wcslen(kKeptSuffix));
        report.size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        reports.push_back(report);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(reports.begin(), reports.end(),
              [](const KeptReport& a, const KeptReport& b) { return a.path < b.path; });
    return reports;
}

bool KeepCrashReport(uint64_t length, const std::wstring& key, MakeCrashBodyFn make, void* context)
{
    const std::wstring folder = GetKeptReportsFolder(true);
    if (folder.empty() || length > kMostKeptBytes)
        return false;
    const std::vector<KeptReport> kept = ListKeptReports();
    std::vector<uint64_t> sizes;
    for (const KeptReport& report : kept)
        sizes.push_back(report.size);
    const size_t dropped = CountReportsToDrop(sizes, length);
    for (size_t i = 0; i < dropped; ++i)
        DeleteFileW(kept[i].path.c_str());

    // Written under a name no sender takes, then renamed: a report is either
    // whole in the folder or not there.
    const std::wstring path = folder + L"\\" + MakeKeptName(key);
    const std::wstring partial = path + kPartialSuffix;
    bool written = false;
    {
        ScopedHandle file(CreateFileW(partial.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, NULL));
        written = file.IsValid() && make(context, WriteToFile, file.Get()) && FlushFileBuffers(file.Get());
    }
    if (written && MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileW(partial.c_str());
    return false;
}
