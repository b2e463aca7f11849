#include "crash/kept_reports_sender.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "crash/crash_upload.h"
#include "crash/kept_reports.h"
#include "win32/scoped_handles.h"

namespace {

struct KeptBody
{
    HANDLE file;
    uint64_t length;
};

// The kept body as it was written, in pieces of 1 MiB.
bool MakeKeptBody(void* context, WriteBodyFn write, void* sink)
{
    const KeptBody* body = static_cast<const KeptBody*>(context);
    std::vector<char> piece(1u << 20);
    for (uint64_t done = 0; done < body->length;) {
        DWORD got = 0;
        const DWORD wanted = static_cast<DWORD>(std::min<uint64_t>(piece.size(), body->length - done));
        if (!ReadFile(body->file, piece.data(), wanted, &got, NULL) || got == 0)
            return false;
        if (!write(sink, piece.data(), got))
            return false;
        done += got;
    }
    return true;
}

CrashUploadResult SendKeptReport(const KeptReport& report)
{
    ScopedHandle file(CreateFileW(report.path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL));
    if (!file.IsValid())
        return CRASH_UPLOAD_FAILED;
    KeptBody body = { file.Get(), report.size };
    return PostCrashBody(report.size, report.key, MakeKeptBody, &body);
}

DWORD WINAPI SendKeptReportsProc(LPVOID)
{
    for (const KeptReport& report : ListKeptReports()) {
        if (SendKeptReport(report) == CRASH_UPLOAD_FAILED)
            break;  // the server or the line is not back yet
        DeleteFileW(report.path.c_str());
    }
    return 0;
}

}  // namespace

void StartSendingKeptReports()
{
    if (ListKeptReports().empty())
        return;
    HANDLE thread = CreateThread(NULL, 0, SendKeptReportsProc, NULL, 0, NULL);
    if (thread != NULL)
        CloseHandle(thread);  // nothing waits for it
}
