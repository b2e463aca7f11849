// A request's head checked whole before httplib sees it, and the framing of
// its body followed byte by byte: what httplib would take loosely (two
// lengths, a length beside chunks, "0x1f" as a chunk size, lines without
// end) is refused here, so no body is ever read as the next request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct HeadLimits
{
    size_t maxLines = 100;          // header lines, the request line not counted
    size_t maxBytes = 16 * 1024;    // the whole head
    size_t maxTargetBytes = 8192;   // the request target (httplib's own bound)
    size_t maxLineBytes = 8192;     // one header line (httplib's own bound)
};

enum class BodyFraming { None, Length, Chunked };

const int kHeadIncomplete = -1;

struct HeadVerdict
{
    // 0: a whole head to serve; kHeadIncomplete: more bytes needed;
    // otherwise the status to refuse it with, and the connection ends.
    int status = kHeadIncomplete;
    std::string reason;
    size_t skipped = 0;     // empty lines before the request line
    size_t length = 0;      // the head's bytes after those, its empty line included
    BodyFraming framing = BodyFraming::None;
    uint64_t contentLength = 0;
    std::string forwardedFor;  // X-Forwarded-For, all of its lines joined by commas
    std::string forwarded;     // Forwarded, the same
};

// Checks the head at the start of data (size bytes so far). A refusal
// comes as soon as the bytes show one: an over-long line or head does
// not wait for its end.
HeadVerdict ScanRequestHead(const char* data, size_t size, const HeadLimits& limits);

// A chunked body's framing, fed as it passes: sizes in hexadecimal digits
// alone (an extension after ';' allowed), each chunk followed by CRLF, the
// last chunk of size 0 followed by CRLF (no trailer fields).
class ChunkScanner
{
public:
    // How many of the size bytes belong to the body (fewer once it ends);
    // sets Failed() at the first byte that breaks the framing.
    size_t Scan(const char* data, size_t size);
    bool Done() const { return m_state == State::Done; }
    bool Failed() const { return m_state == State::Failed; }
    uint64_t DataBytes() const { return m_dataBytes; }

private:
    enum class State { Size, Extension, SizeLf, Data, DataCr, DataLf, EndCr, EndLf, Done, Failed };
    State m_state = State::Size;
    uint64_t m_left = 0;
    uint64_t m_dataBytes = 0;  // of all chunks so far
    size_t m_digits = 0;
    size_t m_lineBytes = 0;
};

// The reason phrase of the statuses ScanRequestHead refuses with.
const char* DescribeHeadStatus(int status);

// True when an answer's head (status line, fields and empty line) has a
// Connection field with the option close.
bool SaysConnectionClose(const std::string& head);

// The same head without Connection and Keep-Alive fields, and with
// "Connection: close".
std::string MakeAnswerHeadClose(const std::string& head);
