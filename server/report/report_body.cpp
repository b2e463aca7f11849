#include "server/report/report_body.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "report_format/base64.h"
#include "report_format/crash_body.h"
#include "report_format/record_format.h"
#include "report_format/section_text.h"

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

// Compares the body at pos with text and moves pos past it.
bool MatchText(const std::string& body, size_t& pos, const char* text, size_t length)
{
    if (length > body.size() - pos || std::memcmp(body.data() + pos, text, length) != 0)
        return false;
    pos += length;
    return true;
}

// The base64 of bytes at pos, on one line.
bool MatchBase64(const std::string& body, size_t& pos, const std::string& bytes)
{
    // 768 bytes make 1024 characters.
    const size_t unit = 768;
    char out[1024 + 4];
    Base64State state = {0, {0, 0}};
    size_t done = 0;
    do {
        const size_t n = std::min(unit, bytes.size() - done);
        size_t length = Base64EncodeBlock(&state, static_cast<uint32_t>(n), bytes.data() + done, out);
        done += n;
        if (done == bytes.size())
            length += Base64EncodeEnd(&state, out + length);
        if (!MatchText(body, pos, out, length))
            return false;
    } while (done < bytes.size());
    return true;
}

// Past the wrapped base64 of a file's bytes, without encoding them: the
// parser took the payload only if it was exactly that encoding, so its
// length is all there is left to find.
bool SkipWrappedBase64(const std::string& body, size_t& pos, size_t byteCount)
{
    const size_t characters = (byteCount + 2) / 3 * 4;
    const size_t lines = (characters + kBase64LineLength - 1) / kBase64LineLength;
    const size_t length = characters + (lines > 0 ? lines - 1 : 0);
    if (length > body.size() - pos)
        return false;
    pos += length;
    return true;
}

// One record: its key, its payload (a file's when file is given) and "\n\n".
bool MatchRecord(const std::string& body, size_t& pos, const char* key, const std::string& text,
                 const ReportFile* file)
{
    if (!MatchText(body, pos, key, std::strlen(key)))
        return false;
    bool payload = true;
    if (file == nullptr)
        payload = MatchBase64(body, pos, text);
    else if (file->state == FileState::Placeholder)
        payload = MatchText(body, pos, kEmptyFilePayload, std::strlen(kEmptyFilePayload));
    else if (file->state == FileState::Content)
        payload = SkipWrappedBase64(body, pos, file->content.size());
    return payload && MatchText(body, pos, "\n\n", 2);
}

// Record 5 as the reporter sends it: the system information, then the
// component's line (alone when there is no system information), and the
// version's and the code page's when the body had them.
std::string JoinSystemInfo(const Report& report, bool componentLine)
{
    std::string text = report.systemInfo;
    if (!componentLine)
        return text;
    if (!text.empty())
        text += '\n';
    text += kComponentLineKey + report.component;
    if (report.originLines)
        text += "\n" + (kVersionLineKey + report.version) + "\n" + kCodePageLineKey + report.codePage;
    return text;
}

}  // namespace

bool IsReportBodyRebuilt(const Report& report, const std::string& body, bool componentLine)
{
    const std::string systemInfo = JoinSystemInfo(report, componentLine);
    const std::string* const texts[] = {&report.email, &report.description1, &report.description2,
                                        &report.description3, &systemInfo, &report.attachment.name,
                                        nullptr, &report.attachmentLog.name, nullptr};
    const ReportFile* const files[] = {nullptr, nullptr, nullptr, nullptr, nullptr,
                                       nullptr, &report.attachment, nullptr, &report.attachmentLog};
    static_assert(sizeof texts / sizeof texts[0] == REPORT_RECORD_COUNT, "one entry per record");
    size_t pos = 0;
    for (int i = 0; i < REPORT_RECORD_COUNT; ++i) {
        const ReportRecord record = static_cast<ReportRecord>(i);
        if (!MatchRecord(body, pos, GetRecordKey(record), texts[i] != nullptr ? *texts[i] : body, files[i]))
            return false;
    }
    return pos == body.size();
}

bool IsCrashBodyRebuilt(const CrashReport& report, const std::string& body)
{
    const std::string* const texts[] = {&report.comment, &report.dump.name, nullptr, &report.log.name, nullptr,
                                        &report.conf.name, nullptr, &report.version};
    const ReportFile* const files[] = {nullptr, nullptr, &report.dump, nullptr, &report.log, nullptr, &report.conf,
                                       nullptr};
    static_assert(sizeof texts / sizeof texts[0] == CRASH_RECORD_COUNT, "one entry per record");
    size_t pos = 0;
    const int records = report.withVersion ? CRASH_RECORD_COUNT : CRASH_RECORD_VERSION;
    for (int i = 0; i < records; ++i) {
        const CrashRecord record = static_cast<CrashRecord>(i);
        if (!MatchRecord(body, pos, GetCrashRecordKey(record), texts[i] != nullptr ? *texts[i] : body, files[i]))
            return false;
    }
    return pos == body.size();
}

std::string RebuildReportBody(const Report& report, bool componentLine)
{
    const std::string payloads[REPORT_RECORD_COUNT] = {
        EncodeText(report.email),          EncodeText(report.description1),       EncodeText(report.description2),
        EncodeText(report.description3),   EncodeText(JoinSystemInfo(report, componentLine)),         EncodeText(report.attachment.name),
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
        EncodeFile(report.conf),     EncodeText(report.version),
    };
    const int records = report.withVersion ? CRASH_RECORD_COUNT : CRASH_RECORD_VERSION;
    size_t size = 0;
    for (int i = 0; i < records; ++i)
        size += std::strlen(GetCrashRecordKey(static_cast<CrashRecord>(i))) + payloads[i].size() + 2;
    std::string body;
    body.reserve(size);
    for (int i = 0; i < records; ++i) {
        body += GetCrashRecordKey(static_cast<CrashRecord>(i));
        body += payloads[i];
        body += "\n\n";  // framed as a bug report's records
    }
    return body;
}
