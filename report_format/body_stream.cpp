#include "report_format/body_stream.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "report_format/base64.h"

// Bytes of a file read at a time: whole lines of the payload (75 bytes give
// 100 characters), so every piece of base64 starts on a line.
static const uint32_t kLineBytes = 75;
// Large reads for the same reason as the pieces: fewer calls into the system.
static const uint32_t kReadChunk = kLineBytes * 8192;

static const char kRecordEnd[] = "\n\n";

// Lengths in 64 bits: a file's whole payload may not fit a 32-bit size_t.
static uint64_t GetEncodedLength(uint64_t bytes)
{
    return (bytes + 2) / 3 * 4;
}

static uint64_t GetPayloadLength(const FilePart& part)
{
    switch (part.kind) {
    case FILE_PART_PLACEHOLDER:
        return std::strlen(kEmptyFilePayload);
    case FILE_PART_NOTHING:
        return 0;
    case FILE_PART_BYTES:
        break;
    }
    const uint64_t chars = GetEncodedLength(part.length);
    return chars == 0 ? 0 : chars + (chars - 1) / kBase64LineLength;
}

static uint64_t GetRecordLength64(int record, uint64_t payloadLength)
{
    return GetRecordLength(static_cast<ReportRecord>(record), 0) + payloadLength;
}

static FilePart GetWholeFile(const FileSource& file)
{
    // A missing file and an empty one look the same on the wire.
    if (file.size == kMissingFileSize || file.size == 0)
        return FilePart{ FILE_PART_PLACEHOLDER, 0, 0 };
    return FilePart{ FILE_PART_BYTES, 0, file.size };
}

// The newest whole lines of the part's payload that fit in room characters,
// as CutToNewestLines keeps them: dropping a line drops 75 bytes from the
// front.
static FilePart CutToRoom(const FilePart& part, uint64_t room)
{
    if (GetPayloadLength(part) <= room)
        return part;
    if (part.kind != FILE_PART_BYTES)
        return FilePart{ FILE_PART_NOTHING, 0, 0 };  // the placeholder is one line too

    const uint64_t chars = GetEncodedLength(part.length);
    const uint64_t lines = (chars + kBase64LineLength - 1) / kBase64LineLength;
    const uint64_t lastLine = chars - (lines - 1) * kBase64LineLength;
    if (lastLine > room)
        return FilePart{ FILE_PART_NOTHING, 0, 0 };
    const uint64_t kept = 1 + (room - lastLine) / (kBase64LineLength + 1);
    const uint64_t dropped = (lines - kept) * kLineBytes;
    return FilePart{ FILE_PART_BYTES, part.offset + dropped, part.length - dropped };
}

// Reads the part once and ends it before its first NUL byte: the file is
// sent as the C string it was before. A read that fails or comes short gives
// an empty payload, as a file that changed under us is not guessed at.
static void EndAtFirstNul(const FileSource& file, FilePart& part, std::vector<char>& buffer)
{
    if (part.kind != FILE_PART_BYTES)
        return;
    uint64_t done = 0;
    while (done < part.length) {
        const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(kReadChunk, part.length - done));
        uint32_t got = 0;
        if (!file.readAt(file.handle, part.offset + done, buffer.data(), want, &got) || got < want) {
            part = FilePart{ FILE_PART_NOTHING, 0, 0 };
            return;
        }
        const size_t before = CountBytesBeforeNul(buffer.data(), want);
        if (before < want) {
            part.length = done + before;
            return;
        }
        done += want;
    }
}

static std::string EncodeText(const std::string& text)
{
    return Base64Encode(static_cast<uint32_t>(std::strlen(text.c_str())), text.c_str());
}

bool PlanReportBody(const ReportTexts& texts, const FileSource& dxdiag, const FileSource& log, ReportBodyPlan& plan,
                    size_t bodySize)
{
    if (bodySize == 0)
        return false;
    plan.encoded[RECORD_EMAIL] = EncodeText(texts.email);
    plan.encoded[RECORD_DESCRIPTION1] = EncodeText(texts.steps);
    plan.encoded[RECORD_DESCRIPTION2] = EncodeText(texts.happened);
    plan.encoded[RECORD_DESCRIPTION3] = EncodeText(texts.shouldHappen);
    plan.encoded[RECORD_DESCRIPTION4] = EncodeText(texts.systemInfo);
    plan.encoded[RECORD_ATTACHMENT_NAME] = EncodeText(kDxDiagAttachmentName);
    plan.encoded[RECORD_ATTACHMENT].clear();
    plan.encoded[RECORD_ATTACHMENT_LOG_NAME] = EncodeText(kLogAttachmentName);
    plan.encoded[RECORD_ATTACHMENT_LOG].clear();
    plan.dxdiag = GetWholeFile(dxdiag);
    plan.log = GetWholeFile(log);

    const uint64_t available = bodySize - 1;  // the limit counts a terminator
    uint64_t withoutFiles = 0;
    for (int i = 0; i < REPORT_RECORD_COUNT; ++i)
        withoutFiles += GetRecordLength64(i, plan.encoded[i].size());
    const uint64_t dxdiagLength = GetPayloadLength(plan.dxdiag);
    const uint64_t logLength = GetPayloadLength(plan.log);
    if (withoutFiles + dxdiagLength + logLength > available) {
        // The log's newest lines matter most, and it is the one that grows.
        if (withoutFiles + dxdiagLength <= available) {
            plan.log = CutToRoom(plan.log, available - withoutFiles - dxdiagLength);
        } else {
            plan.log = FilePart{ FILE_PART_NOTHING, 0, 0 };
            if (withoutFiles > available)
                return false;
            plan.dxdiag = CutToRoom(plan.dxdiag, available - withoutFiles);
        }
    }

    std::vector<char> buffer(kReadChunk);
    EndAtFirstNul(dxdiag, plan.dxdiag, buffer);
    EndAtFirstNul(log, plan.log, buffer);
    return true;
}

uint64_t GetReportBodyLength(const ReportBodyPlan& plan)
{
    uint64_t length = 0;
    for (int i = 0; i < REPORT_RECORD_COUNT; ++i) {
        if (i == RECORD_ATTACHMENT)
            length += GetRecordLength64(i, GetPayloadLength(plan.dxdiag));
        else if (i == RECORD_ATTACHMENT_LOG)
            length += GetRecordLength64(i, GetPayloadLength(plan.log));
        else
            length += GetRecordLength64(i, plan.encoded[i].size());
    }
    return length;
}

namespace {

// Collects the body into pieces of kBodyPieceSize and hands each on full.
class PieceWriter
{
public:
    PieceWriter(WriteBodyFn write, void* sink) : m_piece(kBodyPieceSize), m_used(0), m_write(write), m_sink(sink) {}

    bool Put(const char* bytes, size_t length)
    {
        while (length > 0) {
            const size_t take = std::min(length, m_piece.size() - m_used);
            std::memcpy(m_piece.data() + m_used, bytes, take);
            m_used += take;
            bytes += take;
            length -= take;
            if (m_used == m_piece.size() && !Flush())
                return false;
        }
        return true;
    }

    bool Put(const std::string& text) { return Put(text.data(), text.size()); }

    // Room for size bytes written in place, or null when the piece has less
    // left; Commit takes the count actually written.
    char* Reserve(size_t size) { return m_piece.size() - m_used >= size ? m_piece.data() + m_used : nullptr; }

    bool Commit(size_t count)
    {
        m_used += count;
        return m_used < m_piece.size() || Flush();
    }

    bool Flush()
    {
        if (m_used == 0)
            return true;
        const size_t used = m_used;
        m_used = 0;
        return m_write(m_sink, m_piece.data(), used);
    }

private:
    std::vector<char> m_piece;
    size_t m_used;
    WriteBodyFn m_write;
    void* m_sink;
};

// The wrapped base64 of the part, encoded a line at a time as it is read,
// straight into the piece where the line fits (a copy per line costs more
// than the encoding under some C libraries).
bool PutFilePart(PieceWriter& out, const FileSource& file, const FilePart& part)
{
    if (part.kind == FILE_PART_PLACEHOLDER)
        return out.Put(kEmptyFilePayload, std::strlen(kEmptyFilePayload));
    if (part.kind == FILE_PART_NOTHING)
        return true;

    std::vector<char> bytes(kReadChunk);
    // A line: its line feed, 100 characters and the terminator that
    // Base64EncodeEnd adds; spare holds one that straddles two pieces.
    const size_t kLineRoom = kBase64LineLength + 2;
    char spare[kLineRoom];
    bool firstLine = true;
    uint64_t done = 0;
    while (done < part.length) {
        const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(kReadChunk, part.length - done));
        uint32_t got = 0;
        if (!file.readAt(file.handle, part.offset + done, bytes.data(), want, &got) || got < want)
            return false;
        done += want;

        // Chunks are whole lines but for the last: every line starts afresh.
        for (uint32_t start = 0; start < want; start += kLineBytes) {
            const uint32_t take = std::min(kLineBytes, want - start);
            char* const direct = out.Reserve(kLineRoom);
            char* const line = direct != nullptr ? direct : spare;
            size_t count = 0;
            if (!firstLine)
                line[count++] = '\n';
            firstLine = false;
            Base64State state = { 0, { 0, 0 } };
            count += Base64EncodeBlock(&state, take, bytes.data() + start, line + count);
            count += Base64EncodeEnd(&state, line + count);
            if (!(direct != nullptr ? out.Commit(count) : out.Put(spare, count)))
                return false;
        }
    }
    return true;
}

}  // namespace

bool WriteReportBody(const ReportBodyPlan& plan, const FileSource& dxdiag, const FileSource& log, WriteBodyFn write,
                     void* sink)
{
    PieceWriter out(write, sink);
    for (int i = 0; i < REPORT_RECORD_COUNT; ++i) {
        const ReportRecord record = static_cast<ReportRecord>(i);
        if (!out.Put(GetRecordKey(record), std::strlen(GetRecordKey(record))))
            return false;
        bool ok = true;
        if (record == RECORD_ATTACHMENT)
            ok = PutFilePart(out, dxdiag, plan.dxdiag);
        else if (record == RECORD_ATTACHMENT_LOG)
            ok = PutFilePart(out, log, plan.log);
        else
            ok = out.Put(plan.encoded[i]);
        if (!ok || !out.Put(kRecordEnd, sizeof kRecordEnd - 1))
            return false;
    }
    return out.Flush();
}
