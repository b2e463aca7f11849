#include "report_format/upload_body.h"

#include <cstdint>
#include <cstring>
#include <utility>

#include "report_format/base64.h"

const char kDxDiagAttachmentName[] = "user_info.txt";
const char kLogAttachmentName[] = "brevora_log.txt";

static std::string EncodeText(const std::string& text)
{
    return Base64Encode(static_cast<uint32_t>(std::strlen(text.c_str())), text.c_str());
}

bool AssembleReportBody(const ReportTexts& texts, std::string dxdiagPayload, std::string logPayload,
                        std::string& body, size_t bodySize)
{
    body.clear();
    const std::string payloads[REPORT_RECORD_COUNT] = {
        EncodeText(texts.email),
        EncodeText(texts.steps),
        EncodeText(texts.happened),
        EncodeText(texts.shouldHappen),
        EncodeText(texts.systemInfo),
        EncodeText(kDxDiagAttachmentName),
        std::move(dxdiagPayload),
        EncodeText(kLogAttachmentName),
        std::move(logPayload),
    };
    return AppendReportRecords(body, bodySize, payloads);
}
