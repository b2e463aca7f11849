#include "report_format/crash_body.h"

#include <cstring>
#include <vector>

#include "report_format/base64.h"
#include "report_format/record_format.h"

namespace {

const char* const kCrashRecordKeys[CRASH_RECORD_COUNT] = {
    "comment ",
    "attachment_dump_name ",
    "attachment_dump ",
    "attachment_log_name ",
    "attachment_log ",
    "attachment_conf_name ",
    "attachment_conf ",
    "version ",
};

const char* const kCrashFileNames[CRASH_FILE_COUNT] = { "brevora.dmp", "brevora.log", "brevora.conf" };

const char kRecordEnd[] = "\n\n";
const uint64_t kRecordEndLength = sizeof kRecordEnd - 1;
const uint64_t kPlaceholderLength = 5;  // "WFhY\n"

// File bytes per wrapped line, and lines per block written.
const uint32_t kBytesPerLine = static_cast<uint32_t>(kBase64LineLength / 4 * 3);
const uint32_t kLinesPerBlock = 4096;

std::string EncodeBase64(const std::string& bytes)
{
    std::string text((bytes.size() + 2) / 3 * 4 + 1, '\0');
    Base64State state = {};
    size_t used = 0;
    // Blocks take 32-bit lengths; a comment is far shorter, but stay exact.
    for (size_t start = 0; start < bytes.size(); start += 0x40000000) {
        const size_t count = bytes.size() - start < 0x40000000 ? bytes.size() - start : 0x40000000;
        used += Base64EncodeBlock(&state, static_cast<uint32_t>(count), bytes.data() + start, &text[used]);
    }
    used += Base64EncodeEnd(&state, &text[used]);
    text.resize(used);
    return text;
}

uint64_t GetRecordLength(CrashRecord record, uint64_t payloadLength)
{
    return std::strlen(kCrashRecordKeys[record]) + payloadLength + kRecordEndLength;
}

uint64_t GetPayloadLength(uint64_t length)
{
    if (length == 0)
        return kPlaceholderLength;
    const uint64_t characters = (length + 2) / 3 * 4;
    return characters + (characters - 1) / kBase64LineLength;
}

// The most bytes of a file whose payload fits in room characters.
uint64_t GetBytesThatFit(uint64_t room)
{
    uint64_t low = 0;
    uint64_t high = room;  // a payload is never shorter than its bytes
    while (low < high) {
        const uint64_t middle = low + (high - low + 1) / 2;
        if (GetPayloadLength(middle) <= room)
            low = middle;
        else
            high = middle - 1;
    }
    return low;
}

// The first line start at or after offset (the file's size when there is
// none), reading from just before offset onwards.
bool FindLineStart(const CrashFileSource& file, ReadCrashFileFn read, uint64_t offset, uint64_t& start)
{
    if (offset == 0 || offset >= file.size) {
        start = offset;
        return true;
    }
    std::vector<char> block(64 * 1024);
    uint64_t at = offset - 1;
    while (at < file.size) {
        uint32_t got = 0;
        if (!read(file.handle, at, block.data(), static_cast<uint32_t>(block.size()), &got) || got == 0)
            return false;
        const void* nl = std::memchr(block.data(), '\n', got);
        if (nl != nullptr) {
            start = at + static_cast<uint64_t>(static_cast<const char*>(nl) - block.data()) + 1;
            return true;
        }
        at += got;
    }
    start = file.size;
    return true;
}

// Keeps the newest whole lines of a file that fit in room payload characters.
bool CutToNewestLines(const CrashFileSource& file, ReadCrashFileFn read, uint64_t room, CrashFilePart& part)
{
    const uint64_t fits = GetBytesThatFit(room);
    if (fits >= file.size) {
        part.offset = 0;
        part.length = file.size;
        return true;
    }
    uint64_t start = 0;
    if (!FindLineStart(file, read, file.size - fits, start))
        return false;
    part.offset = start;
    part.length = file.size - start;
    return true;
}

bool WriteText(WriteBodyFn write, void* sink, const char* text, size_t length)
{
    return length == 0 || write(sink, text, length);
}

// Wrapped base64 of the part, read and written a block of whole lines at a
// time.
bool WriteFilePayload(const CrashFileSource& file, const CrashFilePart& part, ReadCrashFileFn read,
                      WriteBodyFn write, void* sink)
{
    if (part.length == 0)
        return WriteText(write, sink, kEmptyFilePayload, kPlaceholderLength);

    const uint32_t blockBytes = kBytesPerLine * kLinesPerBlock;
    std::vector<char> bytes(blockBytes);
    std::vector<char> encoded(static_cast<size_t>(kLinesPerBlock) * kBase64LineLength + 4);
    std::vector<char> wrapped(static_cast<size_t>(kLinesPerBlock) * (kBase64LineLength + 1) + 4);
    for (uint64_t done = 0; done < part.length;) {
        const uint32_t wanted = part.length - done < blockBytes ? static_cast<uint32_t>(part.length - done) : blockBytes;
        uint32_t got = 0;
        if (!read(file.handle, part.offset + done, bytes.data(), wanted, &got) || got != wanted)
            return false;

        // Every block but the last is a whole number of groups of three.
        Base64State state = {};
        size_t length = Base64EncodeBlock(&state, wanted, bytes.data(), encoded.data());
        length += Base64EncodeEnd(&state, encoded.data() + length);

        char* out = wrapped.data();
        for (size_t start = 0; start < length; start += kBase64LineLength) {
            if (done > 0 || start > 0)
                *out++ = '\n';
            const size_t line = length - start < kBase64LineLength ? length - start : kBase64LineLength;
            std::memcpy(out, encoded.data() + start, line);
            out += line;
        }
        if (!WriteText(write, sink, wrapped.data(), static_cast<size_t>(out - wrapped.data())))
            return false;
        done += wanted;
    }
    return true;
}

}  // namespace

const char* GetCrashRecordKey(CrashRecord record)
{
    return kCrashRecordKeys[record];
}

CrashRecord GetCrashFileRecord(CrashFile file)
{
    return static_cast<CrashRecord>(CRASH_RECORD_DUMP + 2 * file);
}

CrashRecord GetCrashNameRecord(CrashFile file)
{
    return static_cast<CrashRecord>(CRASH_RECORD_DUMP_NAME + 2 * file);
}

const char* GetCrashFileName(CrashFile file)
{
    return kCrashFileNames[file];
}

uint64_t GetCrashFilePayloadLength(uint64_t length)
{
    return GetPayloadLength(length);
}

namespace {

bool PlanBody(const std::string& comment, const std::string* version, const CrashFileSource files[CRASH_FILE_COUNT],
              ReadCrashFileFn read, uint64_t limit, CrashBodyPlan& plan)
{
    plan.comment = EncodeBase64(comment);
    plan.withVersion = version != nullptr;
    plan.version = plan.withVersion ? EncodeBase64(*version) : std::string();
    uint64_t fixed = GetRecordLength(CRASH_RECORD_COMMENT, plan.comment.size());
    if (plan.withVersion)
        fixed += GetRecordLength(CRASH_RECORD_VERSION, plan.version.size());
    uint64_t whole[CRASH_FILE_COUNT];
    for (int i = 0; i < CRASH_FILE_COUNT; ++i) {
        const CrashFile file = static_cast<CrashFile>(i);
        fixed += GetRecordLength(GetCrashNameRecord(file), EncodeBase64(kCrashFileNames[i]).size());
        fixed += GetRecordLength(GetCrashFileRecord(file), 0);
        whole[i] = files[i].handle != nullptr ? files[i].size : 0;
        plan.parts[i].offset = 0;
        plan.parts[i].length = whole[i];
    }
    if (fixed + 3 * kPlaceholderLength > limit)
        return false;
    const uint64_t room = limit - fixed;

    const uint64_t dump = GetCrashFilePayloadLength(whole[CRASH_FILE_DUMP]);
    const uint64_t log = GetCrashFilePayloadLength(whole[CRASH_FILE_LOG]);
    const uint64_t conf = GetCrashFilePayloadLength(whole[CRASH_FILE_CONF]);
    if (dump + log + conf > room) {
        // A cut dump is of no use to anyone: whole or not at all.
        uint64_t dumpLength = dump;
        if (dump + 2 * kPlaceholderLength > room) {
            plan.parts[CRASH_FILE_DUMP].length = 0;
            dumpLength = kPlaceholderLength;
        }
        if (dumpLength + log + conf > room) {
            // The log's newest lines tell most; the configuration goes second.
            if (dumpLength + kPlaceholderLength + conf <= room) {
                if (!CutToNewestLines(files[CRASH_FILE_LOG], read, room - dumpLength - conf,
                                      plan.parts[CRASH_FILE_LOG]))
                    return false;
            } else {
                plan.parts[CRASH_FILE_LOG].length = 0;
                if (!CutToNewestLines(files[CRASH_FILE_CONF], read, room - dumpLength - kPlaceholderLength,
                                      plan.parts[CRASH_FILE_CONF]))
                    return false;
            }
        }
    }

    plan.length = fixed;
    for (int i = 0; i < CRASH_FILE_COUNT; ++i)
        plan.length += GetCrashFilePayloadLength(plan.parts[i].length);
    return true;
}

}  // namespace

bool PlanCrashBody(const std::string& comment, const std::string& version,
                   const CrashFileSource files[CRASH_FILE_COUNT], ReadCrashFileFn read, uint64_t limit,
                   CrashBodyPlan& plan)
{
    return PlanBody(comment, &version, files, read, limit, plan);
}

bool PlanCrashBody(const std::string& comment, const CrashFileSource files[CRASH_FILE_COUNT], ReadCrashFileFn read,
                   uint64_t limit, CrashBodyPlan& plan)
{
    return PlanBody(comment, nullptr, files, read, limit, plan);
}

bool WriteCrashBody(const CrashBodyPlan& plan, const CrashFileSource files[CRASH_FILE_COUNT], ReadCrashFileFn read,
                    WriteBodyFn write, void* sink)
{
    const int records = plan.withVersion ? CRASH_RECORD_COUNT : CRASH_RECORD_VERSION;
    for (int i = 0; i < records; ++i) {
        const CrashRecord record = static_cast<CrashRecord>(i);
        const char* key = kCrashRecordKeys[record];
        if (!WriteText(write, sink, key, std::strlen(key)))
            return false;
        bool written = false;
        if (record == CRASH_RECORD_COMMENT) {
            written = WriteText(write, sink, plan.comment.data(), plan.comment.size());
        } else if (record == CRASH_RECORD_VERSION) {
            written = WriteText(write, sink, plan.version.data(), plan.version.size());
        } else if ((record - CRASH_RECORD_DUMP_NAME) % 2 == 0) {
            const std::string name = EncodeBase64(kCrashFileNames[(record - CRASH_RECORD_DUMP_NAME) / 2]);
            written = WriteText(write, sink, name.data(), name.size());
        } else {
            const int file = (record - CRASH_RECORD_DUMP) / 2;
            written = WriteFilePayload(files[file], plan.parts[file], read, write, sink);
        }
        if (!written || !WriteText(write, sink, kRecordEnd, kRecordEndLength))
            return false;
    }
    return true;
}
