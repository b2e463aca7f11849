#include "bugreport/report_profile.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "bugreport/report_files.h"
#include "win32/fixed_texts.h"

// The outcome of each write is not looked at: a failed write leaves the file
// as it was, and there is nothing the user could do about it.

typedef std::pair<std::wstring, std::wstring> BugReportEntry;

// [Bug Report] as the form last wrote it, in the order of the first writes.
// The private-profile service knows no multi-line values: rewriting one key
// would replace only its first line and leave the other lines behind as
// lines of their own. So the whole section is written each time from here,
// and the service drops every line of the old section, stale ones included.
static std::vector<BugReportEntry> g_bugReportEntries;

static std::vector<BugReportEntry>::iterator FindBugReportEntry(const WCHAR* key)
{
    return std::find_if(g_bugReportEntries.begin(), g_bugReportEntries.end(),
                        [key](const BugReportEntry& entry) { return entry.first == key; });
}

// A profile without [Bug Report] is a new one: nothing written before
// belongs to it.
static void ForgetEntriesOfAnEarlierProfile()
{
    WCHAR probe[4];
    if (GetPrivateProfileSectionW(kProfileSectionBugReport, probe, 4, g_szProfilePath) == 0)
        g_bugReportEntries.clear();
}

static void WriteBugReportSection()
{
    std::wstring block;
    for (const BugReportEntry& entry : g_bugReportEntries) {
        block += entry.first;
        block += L'=';
        block += entry.second;
        block += L'\0';
    }
    block += L'\0';
    WritePrivateProfileSectionW(kProfileSectionBugReport, block.c_str(), g_szProfilePath);
}

void WriteBugReportValue(const WCHAR* key, const WCHAR* value)
{
    ForgetEntriesOfAnEarlierProfile();
    std::vector<BugReportEntry>::iterator entry = FindBugReportEntry(key);
    if (entry != g_bugReportEntries.end())
        entry->second = value;
    else
        g_bugReportEntries.push_back(BugReportEntry(key, value));
    WriteBugReportSection();
}

void DeleteBugReportValue(const WCHAR* key)
{
    ForgetEntriesOfAnEarlierProfile();
    std::vector<BugReportEntry>::iterator entry = FindBugReportEntry(key);
    if (entry == g_bugReportEntries.end())
        return;
    g_bugReportEntries.erase(entry);
    WriteBugReportSection();
}

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
    WriteBugReportValue(key, text.get());
}

void WriteSystemInfo(const WCHAR* key, const WCHAR* value)
{
    WritePrivateProfileStringW(kProfileSectionSystemInfo, key, value, g_szProfilePath);
}
