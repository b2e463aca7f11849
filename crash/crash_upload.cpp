#include "crash/crash_upload.h"

#include <windows.h>
#include <wininet.h>

#include "crash/kept_reports.h"
#include "win32/file_reading.h"
#include "win32/internet_session.h"
#include "win32/scoped_handles.h"

static const WCHAR kCrashPath[] = L"/bugreport/crash/";

// Opens a crash file for reading while Brevora may still hold it open; an
// invalid handle when it cannot be opened or measured.
static ScopedHandle OpenCrashFile(const std::string& path, uint64_t& size)
{
    size = 0;
    if (path.empty())
        return ScopedHandle();
    ScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL));
    LARGE_INTEGER length;
    if (!file.IsValid() || !GetFileSizeEx(file.Get(), &length))
        return ScopedHandle();
    size = static_cast<uint64_t>(length.QuadPart);
    return file;
}

// Only a malformed or oversized body is refused for good; everything else
// (5xx, 429, 507, a proxy's page) may pass by the next start.
static CrashUploadResult ClassifyAnswer(DWORD status)
{
    if (status >= 200 && status < 300)
        return CRASH_UPLOAD_ACCEPTED;
    if (status == 400 || status == 413)
        return CRASH_UPLOAD_REFUSED;
    return CRASH_UPLOAD_FAILED;
}

namespace {

struct CrashBodyMaker
{
    MakeCrashBodyFn make;
    void* context;
};

// A file that shrank since the plan cannot give the length announced: the
// request is dropped, never finished short.
bool SendCrashBody(void* context, HINTERNET request)
{
    const CrashBodyMaker* body = static_cast<const CrashBodyMaker*>(context);
    return body->make(body->context, WriteAllToRequest, request);
}

}  // namespace

CrashUploadResult PostCrashBody(uint64_t length, const std::wstring& key, MakeCrashBodyFn make, void* context)
{
    CrashBodyMaker body = { make, context };
    return ClassifyAnswer(PostToReportServer(kCrashPath, INTERNET_FLAG_NO_AUTH | INTERNET_FLAG_NO_CACHE_WRITE, key,
                                             length, SendCrashBody, &body));
}

namespace {

struct PlannedBody
{
    const CrashBodyPlan* plan;
    const CrashFileSource* sources;
};

bool MakePlannedBody(void* context, WriteBodyFn write, void* sink)
{
    const PlannedBody* body = static_cast<const PlannedBody*>(context);
    return WriteCrashBody(*body->plan, body->sources, ReadFileAt, write, sink);
}

}  // namespace

CrashUploadOutcome PostCrashReport(const std::string& comment, const std::string& version,
                                   const std::string& dumpPath, const std::string& logPath,
                                   const std::string& confPath, const std::wstring& key)
{
    CrashUploadOutcome outcome = { false, false };
    ScopedHandle files[CRASH_FILE_COUNT];
    CrashFileSource sources[CRASH_FILE_COUNT];
    const std::string* paths[CRASH_FILE_COUNT] = { &dumpPath, &logPath, &confPath };
    for (int i = 0; i < CRASH_FILE_COUNT; ++i) {
        files[i] = OpenCrashFile(*paths[i], sources[i].size);
        sources[i].handle = files[i].IsValid() ? files[i].Get() : NULL;
    }
    // The whole length is known before a byte is read, so the body streams
    // out block by block and a large dump is never held in memory.
    CrashBodyPlan plan;
    if (!PlanCrashBody(comment, version, sources, ReadFileAt, kCrashBodyLimit, plan))
        return outcome;
    PlannedBody body = { &plan, sources };
    const CrashUploadResult result = PostCrashBody(plan.length, key, MakePlannedBody, &body);
    outcome.delivered = result == CRASH_UPLOAD_ACCEPTED;
    if (result == CRASH_UPLOAD_FAILED)
        outcome.kept = KeepCrashReport(plan.length, key, MakePlannedBody, &body);
    return outcome;
}
