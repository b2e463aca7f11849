#include "server/report_columns.h"

#include "server/compression.h"
#include "server/report_body.h"

const char kPackingColumnName[] = "packing";

namespace {

// Shorter texts gain nothing worth a frame's header and the time.
const size_t kSmallestCompressed = 256;

FileState ReadFileState(const std::string& text)
{
    if (text == "content")
        return FileState::Content;
    if (text == "placeholder")
        return FileState::Placeholder;
    return FileState::Empty;
}

void StoreCompressed(PackedReport& packed, ReportColumn column, const std::string& bytes)
{
    if (bytes.size() >= kSmallestCompressed) {
        std::string frame = CompressBytes(bytes);
        if (frame.size() < bytes.size()) {
            packed.values[column] = std::move(frame);
            packed.packing |= int64_t{1} << column;
            return;
        }
    }
    packed.values[column] = bytes;
}

}  // namespace

const char* NameFileState(FileState state)
{
    switch (state) {
    case FileState::Content:
        return "content";
    case FileState::Placeholder:
        return "placeholder";
    case FileState::Empty:
        break;
    }
    return "empty";
}

void PackReport(const ReportOrigin& origin, const Report& report, const std::string& rawBody, PackedReport& packed)
{
    packed = PackedReport();
    packed.values[COLUMN_RECEIVED_UTC] = origin.receivedUtc;
    packed.values[COLUMN_PEER] = origin.peer;
    packed.values[COLUMN_USER_AGENT] = origin.userAgent;
    packed.values[COLUMN_EMAIL] = report.email;  // plain: forget compares it
    StoreCompressed(packed, COLUMN_DESCRIPTION1, report.description1);
    StoreCompressed(packed, COLUMN_DESCRIPTION2, report.description2);
    StoreCompressed(packed, COLUMN_DESCRIPTION3, report.description3);
    StoreCompressed(packed, COLUMN_SYSTEM_INFO, report.systemInfo);
    packed.values[COLUMN_ATTACHMENT_NAME] = report.attachment.name;
    StoreCompressed(packed, COLUMN_ATTACHMENT, report.attachment.content);
    packed.values[COLUMN_ATTACHMENT_STATE] = NameFileState(report.attachment.state);
    packed.values[COLUMN_ATTACHMENT_LOG_NAME] = report.attachmentLog.name;
    StoreCompressed(packed, COLUMN_ATTACHMENT_LOG, report.attachmentLog.content);
    packed.values[COLUMN_ATTACHMENT_LOG_STATE] = NameFileState(report.attachmentLog.state);
    // A valid body is never empty, so empty means "rebuild it". Kept only
    // when the fields would not give it back exactly.
    if (RebuildReportBody(report) != rawBody)
        StoreCompressed(packed, COLUMN_RAW_BODY, rawBody);
}

bool UnpackColumn(const std::string& value, int64_t packing, ReportColumn column, std::string& bytes,
                  std::string& error)
{
    if ((packing & (int64_t{1} << column)) == 0) {
        bytes = value;
        return true;
    }
    return DecompressBytes(value, bytes, error);
}

bool UnpackReport(PackedReport& packed, StoredReport& stored, std::string& error)
{
    Report& r = stored.report;
    std::string* const targets[REPORT_COLUMN_COUNT] = {
        &stored.origin.receivedUtc, &stored.origin.peer, &stored.origin.userAgent, &r.email, &r.description1,
        &r.description2, &r.description3, &r.systemInfo, &r.attachment.name, &r.attachment.content, nullptr,
        &r.attachmentLog.name, &r.attachmentLog.content, nullptr, &stored.rawBody,
    };
    for (int i = 0; i < REPORT_COLUMN_COUNT; ++i) {
        if (targets[i] == nullptr)
            continue;
        if ((packed.packing & (int64_t{1} << i)) == 0)
            targets[i]->swap(packed.values[i]);
        else if (!DecompressBytes(packed.values[i], *targets[i], error))
            return false;
    }
    r.attachment.state = ReadFileState(packed.values[COLUMN_ATTACHMENT_STATE]);
    r.attachmentLog.state = ReadFileState(packed.values[COLUMN_ATTACHMENT_LOG_STATE]);
    if (stored.rawBody.empty())
        stored.rawBody = RebuildReportBody(r);
    return true;
}
