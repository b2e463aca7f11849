// libFuzzer target for the two upload body parsers, the bug report's and the
// crash report's (every input goes to both). Beyond "no crash, no sanitizer
// report", it checks that each parser and the encoders agree: a crash body
// the parser accepts must be exactly what the store rebuilds from the
// decoded report (RebuildCrashBody) and what the reporter's encoder makes; for
// a bug body the store's in-place check must agree with the rebuild, so that
// a body is left out only when it comes back exactly. A refusal must come
// with a one-line reason.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "report_format/base64.h"
#include "report_format/crash_body.h"
#include "report_format/record_format.h"
#include "server/report/report_body.h"
#include "server/report/report_parser.h"

namespace {

bool ReadFromString(void* handle, uint64_t offset, char* buffer, uint32_t size, uint32_t* got)
{
    const std::string* bytes = static_cast<const std::string*>(handle);
    const uint64_t left = offset < bytes->size() ? bytes->size() - offset : 0;
    *got = static_cast<uint32_t>(left < size ? left : size);
    std::memcpy(buffer, bytes->data() + offset, *got);
    return true;
}

bool AppendBytes(void* sink, const char* bytes, size_t length)
{
    static_cast<std::string*>(sink)->append(bytes, length);
    return true;
}

// The reporter's crash body for a parsed crash report. It always names the
// files brevora.dmp, brevora.log and brevora.conf and sends the placeholder
// for an empty file, never an empty payload.
bool ReencodeCrash(const CrashReport& report, std::string& body)
{
    const ReportFile* files[CRASH_FILE_COUNT] = {&report.dump, &report.log, &report.conf};
    CrashFileSource sources[CRASH_FILE_COUNT];
    for (int i = 0; i < CRASH_FILE_COUNT; ++i) {
        if (files[i]->name != GetCrashFileName(static_cast<CrashFile>(i)) || files[i]->state == FileState::Empty)
            return false;
        sources[i] = {const_cast<std::string*>(&files[i]->content), files[i]->content.size()};
    }
    CrashBodyPlan plan;
    const bool planned = report.withVersion ? PlanCrashBody(report.comment, report.version, sources, ReadFromString,
                                                            kCrashBodyLimit, plan)
                                            : PlanCrashBody(report.comment, sources, ReadFromString, kCrashBodyLimit,
                                                            plan);
    if (!planned || !WriteCrashBody(plan, sources, ReadFromString, AppendBytes, &body))
        __builtin_trap();  // a body the parser took is far below the limit
    return true;
}

void CheckReason(const std::string& reason)
{
    if (reason.empty() || reason.find('\n') != std::string::npos)
        __builtin_trap();
}

void CheckCrashBody(const char* body, size_t size)
{
    CrashReport report;
    std::string reason;
    if (!ParseCrashBody(body, size, report, reason)) {
        CheckReason(reason);
        return;
    }
    std::string again;
    if (ReencodeCrash(report, again) && again != std::string(body, size))
        __builtin_trap();
    // The store keeps no crash body that its fields give back.
    if (RebuildCrashBody(report) != std::string(body, size) || !IsCrashBodyRebuilt(report, std::string(body, size)))
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* body = reinterpret_cast<const char*>(data);
    CheckCrashBody(body, size);

    Report report;
    std::string reason;
    if (!ParseReportBody(body, size, report, reason)) {
        CheckReason(reason);
        return 0;
    }

    // The store keeps a body only when its fields do not give it back, and
    // what it finds must be what rebuilding gives: with the component's line
    // or, for an older reporter's body, without.
    const std::string whole(body, size);
    for (bool componentLine : {true, false}) {
        if (IsReportBodyRebuilt(report, whole, componentLine) != (RebuildReportBody(report, componentLine) == whole))
            __builtin_trap();
    }
    return 0;
}
