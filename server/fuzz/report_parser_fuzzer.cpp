// libFuzzer target for the upload body parser. Beyond "no crash, no
// sanitizer report", it checks that the parser and the reporter's encoder
// agree: a body the parser accepts must be exactly what the encoder makes
// of the decoded report, and a refusal must come with a one-line reason.
#include <cstddef>
#include <cstdint>
#include <string>

#include "report_format/base64.h"
#include "report_format/record_format.h"
#include "server/report_parser.h"

namespace {

std::string EncodeText(const std::string& bytes)
{
    return Base64Encode(static_cast<uint32_t>(bytes.size()), bytes.data());
}

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
    return MakeFilePayload(file.content.data(), file.content.size());
}

std::string Reencode(const Report& report, size_t bodySize)
{
    const std::string payloads[REPORT_RECORD_COUNT] = {
        EncodeText(report.email),           EncodeText(report.description1),  EncodeText(report.description2),
        EncodeText(report.description3),    EncodeText(report.systemInfo),    EncodeText(report.attachment.name),
        EncodeFile(report.attachment),      EncodeText(report.attachmentLog.name), EncodeFile(report.attachmentLog),
    };
    std::string body;
    if (!AppendReportRecords(body, bodySize, payloads))
        return "<does not fit>";
    return body;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* body = reinterpret_cast<const char*>(data);
    Report report;
    std::string reason;
    if (!ParseReportBody(body, size, report, reason)) {
        if (reason.empty() || reason.find('\n') != std::string::npos)
            __builtin_trap();
        return 0;
    }

    // The reporter never sends a file's bytes from its first NUL on, so such
    // a body has no encoder counterpart.
    if (report.attachment.content.find('\0') != std::string::npos ||
        report.attachmentLog.content.find('\0') != std::string::npos)
        return 0;
    if (Reencode(report, size + 1) != std::string(body, size))
        __builtin_trap();
    return 0;
}
