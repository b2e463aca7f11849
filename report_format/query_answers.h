// Handling of the report server's answers, free of any platform call so that
// it builds and is tested natively; the queries supply the two platform
// pieces (reading the body, converting 8-bit text) as functions.
#pragma once

#include <cstddef>

// The queries use at most this many bytes of a response; the receive buffer
// has one byte more for a terminating NUL.
const size_t kResponseLimit = 2048;

// Reads the next part of a response into buffer (at most size bytes) and
// stores the byte count in *got; 0 bytes means the response has ended.
// Returns false when the read fails.
typedef bool (*ReadChunkFn)(void* source, char* buffer, size_t size, size_t* got);

// Converts length bytes of 8-bit text to wide text. With out null, returns
// the number of wide units the text needs (no terminator counted); otherwise
// converts into out, which has room for capacity units, and returns the
// number written. 0 means the conversion failed.
typedef size_t (*ToWideFn)(const char* text, size_t length, wchar_t* out, size_t capacity);

// A run of bytes inside a response.
struct TextSpan
{
    const char* text;
    size_t length;
};

// Reads until limit bytes have arrived or the response has ended, so a body
// that comes in several parts is not cut short. *count receives the bytes
// read. Returns false when any read fails.
bool ReadResponse(ReadChunkFn readChunk, void* source, char* buffer, size_t limit, size_t* count);

// The first two lines of a NUL-terminated text: maximal runs of bytes other
// than LF, so empty lines count for nothing and a CR stays in its line. A
// missing line comes back with length 0.
void SplitVersionResponse(const char* text, TextSpan* version, TextSpan* url);

// Converts line into out when the result and its terminator fit strictly
// inside capacity units; otherwise out is left as it is. Returns true when
// the line was copied.
bool CopyConvertedLine(ToWideFn toWide, TextSpan line, wchar_t* out, size_t capacity);

// Turns a NUL-terminated components body into the component text, or leaves
// out empty when it does not fit.
void HandleComponentsResponse(ToWideFn toWide, const char* body, wchar_t* out, size_t capacity);

// Turns a NUL-terminated version body into the version and the update
// address; each stays empty when missing or too long for its buffer.
void HandleVersionResponse(ToWideFn toWide, const char* body,
                           wchar_t* version, size_t versionSize, wchar_t* url, size_t urlSize);
