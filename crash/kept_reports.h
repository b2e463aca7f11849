// Crash reports that neither the mail program nor the server took, kept in a
// folder of their own under the user's local application data until a later
// start delivers them: one file per report, the body as it would have been
// sent, named by the time it was kept and its upload key, so that the oldest
// comes first and every try of it is the same report.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "report_format/crash_body.h"

// "%LOCALAPPDATA%\Brevora\Unsent crash reports", made when create is true;
// the empty text when there is no such folder.
std::wstring GetKeptReportsFolder(bool create);

struct KeptReport
{
    std::wstring path;
    std::wstring key;
    uint64_t size;
};

// The kept reports, oldest first.
std::vector<KeptReport> ListKeptReports();

// Writes the body of length bytes that make gives into a new kept report
// under key, first dropping the oldest kept ones as the bound requires.
// False, with nothing left behind, when it cannot be kept.
bool KeepCrashReport(uint64_t length, const std::wstring& key, MakeCrashBodyFn make, void* context);
