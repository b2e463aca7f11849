#include "report_format/record_format.h"

#include <cstdint>
#include <cstring>

#include "report_format/base64.h"

const char kEmptyFilePayload[] = "WFhY\n";

static const char* const kRecordKeys[REPORT_RECORD_COUNT] = {
    "email ",
    "description1 ",
    "description2 ",
    "description3 ",
    "description4 ",
    "attachment_name ",
    "attachment ",
    "attachment_log_name ",
    "attachment_log ",
};

static const char kRecordEnd[] = "\n\n";

const char* GetRecordKey(ReportRecord record)
{
    return kRecordKeys[record];
}

bool IsFileRecord(ReportRecord record)
{
    return record == RECORD_ATTACHMENT || record == RECORD_ATTACHMENT_LOG;
}

size_t GetWrappedLength(size_t length)
{
    return length == 0 ? 0 : length + (length - 1) / kBase64LineLength;
}

std::string WrapBase64Lines(const char* text, size_t length)
{
    std::string wrapped;
    wrapped.reserve(GetWrappedLength(length));
    for (size_t start = 0; start < length; start += kBase64LineLength) {
        if (start > 0)
            wrapped += '\n';
        const size_t line = length - start < kBase64LineLength ? length - start : kBase64LineLength;
        wrapped.append(text + start, line);
    }
    return wrapped;
}

size_t CountBytesBeforeNul(const char* bytes, size_t size)
{
    const uint64_t ones = 0x0101010101010101ULL;
    const uint64_t highs = 0x8080808080808080ULL;
    size_t i = 0;
    // A word holds a zero byte exactly when this sets a high bit.
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        if (((word - ones) & ~word & highs) != 0)
            break;
    }
    while (i < size && bytes[i] != '\0')
        ++i;
    return i;
}

std::string MakeFilePayload(const char* bytes, size_t size)
{
    if (size == 0)
        return kEmptyFilePayload;

    // The reporter reads the file as a C string: only the bytes before the
    // first NUL travel.
    const size_t used = CountBytesBeforeNul(bytes, size);

    const std::string encoded = Base64Encode(static_cast<uint32_t>(used), bytes);
    return WrapBase64Lines(encoded.data(), encoded.size());
}

size_t GetRecordLength(ReportRecord record, size_t payloadLength)
{
    return std::strlen(kRecordKeys[record]) + payloadLength + (sizeof kRecordEnd - 1);
}

// Appends without a fit check; the caller has made sure it fits.
static void PutRecord(std::string& body, ReportRecord record, const char* payload, size_t payloadLength)
{
    body += kRecordKeys[record];
    body.append(payload, payloadLength);
    body += kRecordEnd;
}

bool AppendRecord(std::string& body, size_t bodySize, ReportRecord record, const std::string& payload)
{
    if (body.size() >= bodySize || bodySize - body.size() <= GetRecordLength(record, payload.size()))
        return false;  // no room for the record and the terminator
    PutRecord(body, record, payload.data(), payload.size());
    return true;
}

const char* CutToNewestLines(const char* payload, size_t room)
{
    const size_t length = std::strlen(payload);
    if (length <= room)
        return payload;

    // The first line start at or after the first character that has to go.
    const char* p = payload + (length - room);
    if (p[-1] != '\n') {
        const char* next = std::strchr(p, '\n');
        p = next != nullptr ? next + 1 : payload + length;
    }
    return p;
}

bool AppendReportRecords(std::string& body, size_t bodySize, const std::string payloads[REPORT_RECORD_COUNT])
{
    const size_t used = body.size();
    if (used >= bodySize)
        return false;
    const size_t available = bodySize - 1 - used;  // the terminator stays

    size_t lengths[REPORT_RECORD_COUNT];
    size_t total = 0;
    for (int i = 0; i < REPORT_RECORD_COUNT; ++i) {
        lengths[i] = payloads[i].size();
        total += GetRecordLength(static_cast<ReportRecord>(i), lengths[i]);
    }

    const char* dxdiag = payloads[RECORD_ATTACHMENT].c_str();
    const char* log = payloads[RECORD_ATTACHMENT_LOG].c_str();
    if (total > available) {
        // The log's newest lines matter most, and it is the one that grows.
        const size_t withoutLog = total - lengths[RECORD_ATTACHMENT_LOG];
        if (withoutLog <= available) {
            log = CutToNewestLines(log, available - withoutLog);
        } else {
            log += lengths[RECORD_ATTACHMENT_LOG];
            const size_t withoutFiles = withoutLog - lengths[RECORD_ATTACHMENT];
            if (withoutFiles > available)
                return false;
            dxdiag = CutToNewestLines(dxdiag, available - withoutFiles);
        }
        lengths[RECORD_ATTACHMENT] = std::strlen(dxdiag);
        lengths[RECORD_ATTACHMENT_LOG] = std::strlen(log);
        total = 0;
        for (int i = 0; i < REPORT_RECORD_COUNT; ++i)
            total += GetRecordLength(static_cast<ReportRecord>(i), lengths[i]);
    }

    body.reserve(used + total);
    for (int i = 0; i < REPORT_RECORD_COUNT; ++i) {
        const char* payload = payloads[i].c_str();
        if (i == RECORD_ATTACHMENT)
            payload = dxdiag;
        else if (i == RECORD_ATTACHMENT_LOG)
            payload = log;
        PutRecord(body, static_cast<ReportRecord>(i), payload, lengths[i]);
    }
    return true;
}
