// The upload itself: the body streamed to the report server in one request,
// its files read while it goes out. Runs on the sending thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "report_format/upload_body.h"

// Everything one upload sends, copied from the form: the sending thread
// reads it and nothing changes it while that thread runs.
struct ReportToSend
{
    ReportTexts texts;
    std::wstring dxdiagPath;
    std::wstring logPath;
    std::wstring key;  // the report's upload key, the same on every try
};

// Told of the bytes sent so far after every piece of the body; returning
// false cancels the upload there.
typedef bool (*UploadProgressFn)(void* context, uint64_t sent, uint64_t total);

// True only when the server answered with a 2xx status. A failed or
// cancelled upload, and memory that runs out, give false.
bool PostBugReport(const ReportToSend& report, UploadProgressFn progress, void* context);
