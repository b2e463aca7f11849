#include "server/report_body.h"

#include <cstdint>
#include <cstring>

#include "report_format/base64.h"
#include "report_format/crash_body.h"
#include "report_format/record_format.h"

namespace {

std::string EncodeText(const std::string& bytes)
{
    return Base64Encode(static_cast<uint32_t>(bytes.size()), bytes.data());
}

// Not MakeFilePayload: that one stops at a NUL byte, as the reporter reads
// files, but the parser takes whatever bytes a payload encodes.
std::string EncodeFile(const ReportFile& file)
{
    switch (file.state) {
    case FileState::Placeholder:
        return kEmptyFilePayload;
    case FileState::Empty:
        return "";
    case FileState::Content:
        break;
    }
    const std::string text = EncodeText(file.content);
    return WrapBase64Lines(text.data(), text.size());
}

}  // namespace

std::string RebuildReportBody(const Report& report)
{
    const std::string payloads[REPORT_RECORD_COUNT] = {
        EncodeText(report.email),          EncodeText(report.description1),       EncodeText(report.description2),
        EncodeText(report.description3),   EncodeText(report.systemInfo),         EncodeText(report.attachment.name),
        EncodeFile(report.attachment),     EncodeText(report.attachmentLog.name), EncodeFile(report.attachmentLog),
    };
    size_t size = 0;
    for (int i = 0; i < REPORT_RECORD_COUNT; ++i)
        size += GetRecordLength(static_cast<ReportRecord>(i), payloads[i].size());
    std::string body;
    body.reserve(size);
    // Room for every record: AppendRecord cannot refuse one.
    for (int i = 0; i < REPORT_RECORD_COUNT; ++i)
        AppendRecord(body, size + 1, static_cast<ReportRecord>(i), payloads[i]);
    return body;
}

std::string RebuildCrashBody(const CrashReport& report)
{
    const std::string payloads[CRASH_RECORD_COUNT] = {
        EncodeText(report.comment),  EncodeText(report.dump.name), EncodeFile(report.dump),
        EncodeText(report.log.name), EncodeFile(report.log),       EncodeText(report.conf.name),
        EncodeFile(report.conf),
    };
    size_t size = 0;
    for (int i = 0; i < CRASH_RECORD_COUNT; ++i)
        size += std::strlen(GetCrashRecordKey(static_cast<CrashRecord>(i))) + payloads[i].size() + 2;
    std::string body;
    body.reserve(size);
    for (int i = 0; i < CRASH_RECORD_COUNT; ++i) {
        body += GetCrashRecordKey(static_cast<CrashRecord>(i));
        body += payloads[i];
        body += "\n\n";  // framed as a bug report's records
    }
    return body;
}
