#include "server/report_parser.h"

#include <cstring>

#include "report_format/record_format.h"
#include "report_format/section_text.h"
#include "server/base64_decode.h"

namespace {

const size_t kMaxNameLength = 255;

struct Cursor
{
    const char* body;
    size_t size;
    size_t pos;
};

// "record 3 (description2)": the key without its trailing space.
std::string NameRecord(ReportRecord record)
{
    std::string key = GetRecordKey(record);
    key.pop_back();
    return "record " + std::to_string(static_cast<int>(record) + 1) + " (" + key + ")";
}

// A short, printable quotation of body bytes for a reason line.
std::string QuoteBytes(const char* bytes, size_t length)
{
    const size_t kMaxQuoted = 32;
    std::string quoted = "\"";
    for (size_t i = 0; i < length && i < kMaxQuoted; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            quoted += static_cast<char>(c);
        } else {
            static const char hex[] = "0123456789ABCDEF";
            quoted += "\\x";
            quoted += hex[c >> 4];
            quoted += hex[c & 0x0F];
        }
    }
    if (length > kMaxQuoted)
        quoted += "...";
    return quoted + "\"";
}

// Explains why the bytes at the cursor are not the expected key.
std::string DescribeWrongKey(const Cursor& c, ReportRecord expected)
{
    const std::string where = NameRecord(expected);
    if (c.pos == c.size)
        return "body ends before " + where;

    const char* start = c.body + c.pos;
    const size_t rest = c.size - c.pos;
    const char* key = GetRecordKey(expected);
    if (rest < std::strlen(key) && std::memcmp(start, key, rest) == 0)
        return "body ends inside the key of " + where;

    size_t wordLength = 0;
    while (wordLength < rest && start[wordLength] != ' ' && start[wordLength] != '\n')
        ++wordLength;

    for (int other = 0; other < REPORT_RECORD_COUNT; ++other) {
        const char* key = GetRecordKey(static_cast<ReportRecord>(other));
        const size_t keyLength = std::strlen(key);
        if (rest >= keyLength && std::memcmp(start, key, keyLength) == 0)
            return where + " expected, found the key of " + NameRecord(static_cast<ReportRecord>(other));
    }
    return where + " expected, found unknown key " + QuoteBytes(start, wordLength);
}

bool ExpectKey(Cursor& c, ReportRecord record, std::string& reason)
{
    const char* key = GetRecordKey(record);
    const size_t keyLength = std::strlen(key);
    if (c.size - c.pos < keyLength || std::memcmp(c.body + c.pos, key, keyLength) != 0) {
        reason = DescribeWrongKey(c, record);
        return false;
    }
    c.pos += keyLength;
    return true;
}

bool Decode(ReportRecord record, const char* text, size_t length, std::string& bytes, std::string& reason)
{
    std::string problem;
    if (DecodeBase64(text, length, bytes, problem))
        return true;
    reason = NameRecord(record) + ": " + problem;
    return false;
}

// A payload on one line, then the record's "\n\n".
bool ReadLinePayload(Cursor& c, ReportRecord record, std::string& bytes, std::string& reason)
{
    const char* start = c.body + c.pos;
    const void* nl = std::memchr(start, '\n', c.size - c.pos);
    if (nl == nullptr) {
        reason = "body ends inside " + NameRecord(record);
        return false;
    }
    const size_t length = static_cast<size_t>(static_cast<const char*>(nl) - start);
    const size_t after = c.pos + length + 1;
    if (after == c.size) {
        reason = "body ends inside " + NameRecord(record);
        return false;
    }
    if (c.body[after] != '\n') {
        reason = NameRecord(record) + ": payload is not followed by \"\\n\\n\" (only the file records are wrapped)";
        return false;
    }
    if (!Decode(record, start, length, bytes, reason))
        return false;
    c.pos = after + 1;
    return true;
}

// Placeholder, empty payload, or lines of exactly 100 characters but the
// last (1 to 100); then the record's "\n\n".
bool ReadFilePayload(Cursor& c, ReportRecord record, ReportFile& file, std::string& reason)
{
    static const char kPlaceholderRecord[] = "WFhY\n\n\n";  // the placeholder and "\n\n"
    const size_t placeholderLength = sizeof kPlaceholderRecord - 1;
    const size_t rest = c.size - c.pos;
    const char* start = c.body + c.pos;

    if (rest >= placeholderLength && std::memcmp(start, kPlaceholderRecord, placeholderLength) == 0) {
        file.state = FileState::Placeholder;
        file.content.clear();
        c.pos += placeholderLength;
        return true;
    }
    if (rest >= 2 && start[0] == '\n' && start[1] == '\n') {
        file.state = FileState::Empty;
        file.content.clear();
        c.pos += 2;
        return true;
    }

    std::string text;
    text.reserve(rest);
    size_t line = 1;
    for (;;) {
        const char* lineStart = c.body + c.pos;
        const void* nl = std::memchr(lineStart, '\n', c.size - c.pos);
        if (nl == nullptr) {
            reason = "body ends inside " + NameRecord(record);
            return false;
        }
        const size_t length = static_cast<size_t>(static_cast<const char*>(nl) - lineStart);
        const size_t after = c.pos + length + 1;
        if (length == 0 || length > kBase64LineLength) {
            reason = NameRecord(record) + ": line " + std::to_string(line) + " has " + std::to_string(length) +
                     " characters, expected 1 to 100";
            return false;
        }
        if (after == c.size) {
            reason = "body ends inside " + NameRecord(record);
            return false;
        }
        text.append(lineStart, length);
        if (c.body[after] == '\n') {
            c.pos = after + 1;
            break;
        }
        if (length != kBase64LineLength) {
            reason = NameRecord(record) + ": line " + std::to_string(line) + " has " + std::to_string(length) +
                     " characters, but only the last line may be shorter than 100";
            return false;
        }
        c.pos = after;
        ++line;
    }

    file.state = FileState::Content;
    return Decode(record, text.data(), text.size(), file.content, reason);
}

// Names become file names on export: one plain name, nothing that walks.
bool IsPlainFileName(const std::string& name)
{
    if (name.empty() || name.size() > kMaxNameLength || name == "." || name == "..")
        return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\')
            return false;
    }
    return true;
}

bool ReadName(Cursor& c, ReportRecord record, std::string& name, std::string& reason)
{
    if (!ReadLinePayload(c, record, name, reason))
        return false;
    if (!IsPlainFileName(name)) {
        reason = NameRecord(record) + ": " + QuoteBytes(name.data(), name.size()) + " is not a plain file name";
        return false;
    }
    return true;
}

// Moves the last line of record 5 out into component when it is the
// component's line.
void SplitComponentLine(Report& report)
{
    report.component.clear();
    const size_t keyLength = std::strlen(kComponentLineKey);
    std::string& text = report.systemInfo;
    const size_t lastBreak = text.rfind('\n');
    const size_t lineStart = lastBreak == std::string::npos ? 0 : lastBreak + 1;
    if (text.compare(lineStart, keyLength, kComponentLineKey) != 0)
        return;
    report.component = text.substr(lineStart + keyLength);
    text.erase(lastBreak == std::string::npos ? 0 : lastBreak);
}

}  // namespace

bool ParseReportBody(const char* body, size_t size, Report& report, std::string& reason)
{
    if (body == nullptr)
        body = "";  // memchr and memcmp want a pointer even for no bytes
    Cursor c = {body, size, 0};
    std::string* const texts[] = {
        &report.email, &report.description1, &report.description2, &report.description3, &report.systemInfo,
    };

    for (int i = 0; i < REPORT_RECORD_COUNT; ++i) {
        const ReportRecord record = static_cast<ReportRecord>(i);
        if (!ExpectKey(c, record, reason))
            return false;

        bool ok = false;
        switch (record) {
        case RECORD_ATTACHMENT_NAME:
            ok = ReadName(c, record, report.attachment.name, reason);
            break;
        case RECORD_ATTACHMENT:
            ok = ReadFilePayload(c, record, report.attachment, reason);
            break;
        case RECORD_ATTACHMENT_LOG_NAME:
            ok = ReadName(c, record, report.attachmentLog.name, reason);
            break;
        case RECORD_ATTACHMENT_LOG:
            ok = ReadFilePayload(c, record, report.attachmentLog, reason);
            break;
        default:
            ok = ReadLinePayload(c, record, *texts[i], reason);
            break;
        }
        if (!ok)
            return false;
    }

    SplitComponentLine(report);
    if (c.pos != c.size) {
        reason = std::to_string(c.size - c.pos) + " unexpected bytes after the last record, starting " +
                 QuoteBytes(c.body + c.pos, c.size - c.pos);
        return false;
    }
    return true;
}
