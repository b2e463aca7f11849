// libFuzzer target for the upload body parser. Beyond "no crash, no
// sanitizer report", it checks that the parser and the reporter's encoder
// agree: a body the parser accepts must be exactly what the encoder makes
// of the decoded report, and a refusal must come with a one-line reason.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "report_format/base64.h"
#include "report_format/record_format.h"
#include "server/report_parser.h"

namespace {

std::string EncodeText(const std::string& bytes)
{
    char* text = Base64Encode(static_cast<uint32_t>(bytes.size()), bytes.data());
    std::string copy = text;
    std::free(text);
    return copy;
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
    char* payload = MakeFilePayload(file.content.data(), file.content.size());
    std::string copy = payload;
    std::free(payload);
    return copy;
}

std::string Reencode(const Report& report, size_t bodySize)
{
    const std::string payloads[REPORT_RECORD_COUNT] = {
        EncodeText(report.email),           EncodeText(report.description1),  EncodeText(report.description2),
        EncodeText(report.description3),    EncodeText(report.systemInfo),    EncodeText(report.attachment.name),
        EncodeFile(report.attachment),      EncodeText(report.attachmentLog.name), EncodeFile(report.attachmentLog),
    };
    const char* texts[REPORT_RECORD_COUNT];
    for (int i = 0; i < REPORT_RECORD_COUNT; ++i)
        texts[i] = payloads[i].c_str();
    std::vector<char> body(bodySize, '\0');
    if (!AppendReportRecords(body.data(), body.size(), texts))
        return "<does not fit>";
    return body.data();
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
