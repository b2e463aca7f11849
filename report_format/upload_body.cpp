#include "report_format/upload_body.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "report_format/base64.h"
#include "report_format/record_format.h"

const char kDxDiagAttachmentName[] = "user_info.txt";
const char kLogAttachmentName[] = "brevora_log.txt";

namespace {

struct FreeDeleter
{
    void operator()(char* p) const { std::free(p); }
};
typedef std::unique_ptr<char, FreeDeleter> MallocText;

MallocText EncodeText(const char* text)
{
    return MallocText(Base64Encode(static_cast<uint32_t>(std::strlen(text)), text));
}

}  // namespace

bool AssembleReportBody(const ReportTexts& texts, const char* dxdiagPayload, const char* logPayload, char* body,
                        size_t bodySize)
{
    if (bodySize == 0)
        return false;
    body[0] = '\0';

    MallocText encoded[] = {
        EncodeText(texts.email),
        EncodeText(texts.steps),
        EncodeText(texts.happened),
        EncodeText(texts.shouldHappen),
        EncodeText(texts.systemInfo),
        EncodeText(kDxDiagAttachmentName),
        EncodeText(kLogAttachmentName),
    };
    for (const MallocText& text : encoded) {
        if (!text)
            return false;
    }

    const char* const payloads[REPORT_RECORD_COUNT] = {
        encoded[0].get(), encoded[1].get(), encoded[2].get(), encoded[3].get(), encoded[4].get(),
        encoded[5].get(), dxdiagPayload,    encoded[6].get(), logPayload,
    };
    return AppendReportRecords(body, bodySize, payloads);
}
