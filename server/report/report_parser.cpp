#include "server/report/report_parser.h"

#include <algorithm>
#include <cstring>

#include "report_format/crash_body.h"
#include "report_format/record_format.h"
#include "report_format/section_text.h"
#include "server/report/base64_decode.h"

namespace {

const size_t kMaxNameLength = 255;

enum class PayloadKind
{
    Text,  // one line of base64
    Name,  // one line of base64 that decodes to a plain file name
    File   // wrapped lines, the placeholder or nothing
};

// One record of a body: its key and where its payload goes.
struct RecordSlot
{
    const char* key;
    PayloadKind kind;
    std::string* text;  // Text and Name
    ReportFile* file;   // File
};

// The records of one kind of body, in order.
struct BodyLayout
{
    const RecordSlot* slots;
    int count;
    int required;  // the records after these may be missing at the body's end
};

struct Cursor
{
    const char* body;
    size_t size;
    size_t pos;
};

// "record 3 (description2)": the key without its trailing space.
std::string NameRecord(const BodyLayout& layout, int index)
{
    std::string key = layout.slots[index].key;
    key.pop_back();
    return "record " + std::to_string(index + 1) + " (" + key + ")";
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
std::string DescribeWrongKey(const Cursor& c, const BodyLayout& layout, int expected)
{
    const std::string where = NameRecord(layout, expected);
    if (c.pos == c.size)
        return "body ends before " + where;

    const char* start = c.body + c.pos;
    const size_t rest = c.size - c.pos;
    const char* key = layout.slots[expected].key;
    if (rest < std::strlen(key) && std::memcmp(start, key, rest) == 0)
        return "body ends inside the key of " + where;

    size_t wordLength = 0;
    while (wordLength < rest && start[wordLength] != ' ' && start[wordLength] != '\n')
        ++wordLength;

    for (int other = 0; other < layout.count; ++other) {
        const char* key = layout.slots[other].key;
        const size_t keyLength = std::strlen(key);
        if (rest >= keyLength && std::memcmp(start, key, keyLength) == 0)
            return where + " expected, found the key of " + NameRecord(layout, other);
    }
    return where + " expected, found unknown key " + QuoteBytes(start, wordLength);
}

bool ExpectKey(Cursor& c, const BodyLayout& layout, int record, std::string& reason)
{
    const char* key = layout.slots[record].key;
    const size_t keyLength = std::strlen(key);
    if (c.size - c.pos < keyLength || std::memcmp(c.body + c.pos, key, keyLength) != 0) {
        reason = DescribeWrongKey(c, layout, record);
        return false;
    }
    c.pos += keyLength;
    return true;
}

bool Decode(const std::string& where, const char* text, size_t length, std::string& bytes, std::string& reason)
{
    std::string problem;
    if (DecodeBase64(text, length, bytes, problem))
        return true;
    reason = where + ": " + problem;
    return false;
}

// A payload on one line, then the record's "\n\n".
bool ReadLinePayload(Cursor& c, const std::string& where, std::string& bytes, std::string& reason)
{
    const char* start = c.body + c.pos;
    const void* nl = std::memchr(start, '\n', c.size - c.pos);
    if (nl == nullptr) {
        reason = "body ends inside " + where;
        return false;
    }
    const size_t length = static_cast<size_t>(static_cast<const char*>(nl) - start);
    const size_t after = c.pos + length + 1;
    if (after == c.size) {
        reason = "body ends inside " + where;
        return false;
    }
    if (c.body[after] != '\n') {
        reason = where + ": payload is not followed by \"\\n\\n\" (only the file records are wrapped)";
        return false;
    }
    if (!Decode(where, start, length, bytes, reason))
        return false;
    c.pos = after + 1;
    return true;
}

// Decodes characters of base64 wrapped in lines of 100 (and "\n") from
// text into content: 100 characters are 25 whole groups, so no group spans
// two lines and each line is decoded where it lies.
bool DecodeLines(const char* text, size_t characters, std::string& content, std::string& problem)
{
    content.resize(characters / 4 * 3);
    // All but the last line (the only one that may be short or padded) in
    // one call; from a line it stopped at, one at a time.
    const size_t wholeLines = characters == 0 ? 0 : (characters - 1) / kBase64LineLength;
    const size_t fast = DecodeWholeLines(text, wholeLines, kBase64LineLength + 1, &content[0]);
    size_t decoded = fast * (kBase64LineLength / 4 * 3);
    for (size_t offset = fast * kBase64LineLength; offset < characters; offset += kBase64LineLength) {
        const size_t length = std::min(kBase64LineLength, characters - offset);
        size_t written = 0;
        if (!DecodeBase64Piece(text + offset / kBase64LineLength * (kBase64LineLength + 1), length,
                               offset + length == characters, offset, &content[decoded], written, problem))
            return false;
        decoded += written;
    }
    content.resize(decoded);
    return true;
}

// A payload as the reporter wraps it, in one pass that looks for no line
// ends: a "\n" after every 100 characters, then the last line and "\n\n".
// False for anything else (a "\n" inside a line is not base64, so the
// decoder refuses it), which the careful path then measures and refuses
// with its reason.
bool ReadWrappedPayload(Cursor& c, ReportFile& file)
{
    size_t pos = c.pos;
    size_t fullLines = 0;
    while (c.size - pos > kBase64LineLength + 1 && c.body[pos + kBase64LineLength] == '\n' &&
           c.body[pos + kBase64LineLength + 1] != '\n') {
        pos += kBase64LineLength + 1;
        ++fullLines;
    }
    const char* last = c.body + pos;
    const void* nl = std::memchr(last, '\n', std::min(kBase64LineLength + 1, c.size - pos));
    if (nl == nullptr)
        return false;
    const size_t lastLength = static_cast<size_t>(static_cast<const char*>(nl) - last);
    const size_t end = pos + lastLength + 1;
    const size_t characters = fullLines * kBase64LineLength + lastLength;
    if (lastLength == 0 || end >= c.size || c.body[end] != '\n' || characters % 4 != 0)
        return false;
    std::string problem;
    if (!DecodeLines(c.body + c.pos, characters, file.content, problem))
        return false;
    file.state = FileState::Content;
    c.pos = end + 1;
    return true;
}

// Placeholder, empty payload, or lines of exactly 100 characters but the
// last (1 to 100); then the record's "\n\n".
bool ReadFilePayload(Cursor& c, const std::string& where, ReportFile& file, std::string& reason)
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

    if (ReadWrappedPayload(c, file))
        return true;

    // First the lines' shape, then the lines decoded.
    const size_t first = c.pos;
    size_t line = 1;
    size_t characters = 0;
    for (;;) {
        const char* lineStart = c.body + c.pos;
        const void* nl = std::memchr(lineStart, '\n', c.size - c.pos);
        if (nl == nullptr) {
            reason = "body ends inside " + where;
            return false;
        }
        const size_t length = static_cast<size_t>(static_cast<const char*>(nl) - lineStart);
        const size_t after = c.pos + length + 1;
        if (length == 0 || length > kBase64LineLength) {
            reason = where + ": line " + std::to_string(line) + " has " + std::to_string(length) +
                     " characters, expected 1 to 100";
            return false;
        }
        if (after == c.size) {
            reason = "body ends inside " + where;
            return false;
        }
        characters += length;
        if (c.body[after] == '\n') {
            c.pos = after + 1;
            break;
        }
        if (length != kBase64LineLength) {
            reason = where + ": line " + std::to_string(line) + " has " + std::to_string(length) +
                     " characters, but only the last line may be shorter than 100";
            return false;
        }
        c.pos = after;
        ++line;
    }
    if (characters % 4 != 0) {
        reason = where + ": base64 length " + std::to_string(characters) + " is not a multiple of 4";
        return false;
    }

    std::string problem;
    if (!DecodeLines(c.body + first, characters, file.content, problem)) {
        reason = where + ": " + problem;
        return false;
    }
    file.state = FileState::Content;
    return true;
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

bool ReadName(Cursor& c, const std::string& where, std::string& name, std::string& reason)
{
    if (!ReadLinePayload(c, where, name, reason))
        return false;
    if (!IsPlainFileName(name)) {
        reason = where + ": " + QuoteBytes(name.data(), name.size()) + " is not a plain file name";
        return false;
    }
    return true;
}

// Takes the last line of text off into value when it starts with key; the
// text keeps what came before its line feed.
bool SplitLastLine(std::string& text, const char* key, std::string& value)
{
    const size_t keyLength = std::strlen(key);
    const size_t lastBreak = text.rfind('\n');
    const size_t lineStart = lastBreak == std::string::npos ? 0 : lastBreak + 1;
    if (text.compare(lineStart, keyLength, key) != 0)
        return false;
    value = text.substr(lineStart + keyLength);
    text.erase(lastBreak == std::string::npos ? 0 : lastBreak);
    return true;
}

// Moves the lines that end record 5 out of the system information: the
// component's alone, or the component's, the version's and the code page's.
// Anything else stays where it is.
void SplitSectionTail(Report& report)
{
    report.component.clear();
    report.originLines = false;
    report.version.clear();
    report.codePage.clear();
    std::string text = report.systemInfo;
    std::string codePage, version, component;
    if (SplitLastLine(text, kCodePageLineKey, codePage) && SplitLastLine(text, kVersionLineKey, version) &&
        SplitLastLine(text, kComponentLineKey, component)) {
        report.systemInfo.swap(text);
        report.component.swap(component);
        report.version.swap(version);
        report.codePage.swap(codePage);
        report.originLines = true;
        return;
    }
    SplitLastLine(report.systemInfo, kComponentLineKey, report.component);
}

// Sets parsed to the number of records the body held.
bool ParseBody(const char* body, size_t size, const BodyLayout& layout, int& parsed, std::string& reason)
{
    if (body == nullptr)
        body = "";  // memchr and memcmp want a pointer even for no bytes
    Cursor c = {body, size, 0};

    parsed = 0;
    for (int i = 0; i < layout.count; ++i) {
        // Bytes that do not start an optional record are refused as
        // bytes after the last record.
        const char* key = layout.slots[i].key;
        const size_t keyLength = std::strlen(key);
        if (i >= layout.required && (c.size - c.pos < keyLength || std::memcmp(c.body + c.pos, key, keyLength) != 0))
            break;
        if (!ExpectKey(c, layout, i, reason))
            return false;
        const RecordSlot& slot = layout.slots[i];
        const std::string where = NameRecord(layout, i);
        bool ok = false;
        switch (slot.kind) {
        case PayloadKind::Text:
            ok = ReadLinePayload(c, where, *slot.text, reason);
            break;
        case PayloadKind::Name:
            ok = ReadName(c, where, *slot.text, reason);
            break;
        case PayloadKind::File:
            ok = ReadFilePayload(c, where, *slot.file, reason);
            break;
        }
        if (!ok)
            return false;
        parsed = i + 1;
    }

    if (c.pos != c.size) {
        reason = std::to_string(c.size - c.pos) + " unexpected bytes after the last record, starting " +
                 QuoteBytes(c.body + c.pos, c.size - c.pos);
        return false;
    }
    return true;
}

}  // namespace

bool ParseReportBody(const char* body, size_t size, Report& report, std::string& reason)
{
    const RecordSlot slots[REPORT_RECORD_COUNT] = {
        {GetRecordKey(RECORD_EMAIL), PayloadKind::Text, &report.email, nullptr},
        {GetRecordKey(RECORD_DESCRIPTION1), PayloadKind::Text, &report.description1, nullptr},
        {GetRecordKey(RECORD_DESCRIPTION2), PayloadKind::Text, &report.description2, nullptr},
        {GetRecordKey(RECORD_DESCRIPTION3), PayloadKind::Text, &report.description3, nullptr},
        {GetRecordKey(RECORD_DESCRIPTION4), PayloadKind::Text, &report.systemInfo, nullptr},
        {GetRecordKey(RECORD_ATTACHMENT_NAME), PayloadKind::Name, &report.attachment.name, nullptr},
        {GetRecordKey(RECORD_ATTACHMENT), PayloadKind::File, nullptr, &report.attachment},
        {GetRecordKey(RECORD_ATTACHMENT_LOG_NAME), PayloadKind::Name, &report.attachmentLog.name, nullptr},
        {GetRecordKey(RECORD_ATTACHMENT_LOG), PayloadKind::File, nullptr, &report.attachmentLog},
    };
    const BodyLayout layout = {slots, REPORT_RECORD_COUNT, REPORT_RECORD_COUNT};
    int parsed = 0;
    if (!ParseBody(body, size, layout, parsed, reason))
        return false;
    SplitSectionTail(report);
    return true;
}

bool ParseCrashBody(const char* body, size_t size, CrashReport& report, std::string& reason)
{
    ReportFile* const files[CRASH_FILE_COUNT] = {&report.dump, &report.log, &report.conf};
    RecordSlot slots[CRASH_RECORD_COUNT] = {};
    slots[CRASH_RECORD_COMMENT] = {GetCrashRecordKey(CRASH_RECORD_COMMENT), PayloadKind::Text, &report.comment, nullptr};
    for (int i = 0; i < CRASH_FILE_COUNT; ++i) {
        const CrashFile file = static_cast<CrashFile>(i);
        const CrashRecord name = GetCrashNameRecord(file);
        const CrashRecord payload = GetCrashFileRecord(file);
        slots[name] = {GetCrashRecordKey(name), PayloadKind::Name, &files[i]->name, nullptr};
        slots[payload] = {GetCrashRecordKey(payload), PayloadKind::File, nullptr, files[i]};
    }
    slots[CRASH_RECORD_VERSION] = {GetCrashRecordKey(CRASH_RECORD_VERSION), PayloadKind::Text, &report.version, nullptr};
    const BodyLayout layout = {slots, CRASH_RECORD_COUNT, CRASH_RECORD_VERSION};
    int parsed = 0;
    report.version.clear();
    if (!ParseBody(body, size, layout, parsed, reason))
        return false;
    report.withVersion = parsed == CRASH_RECORD_COUNT;
    return true;
}
