// Strict base64 decoding for the report server: exactly what the reporter's
// encoder can produce, nothing more.
#pragma once

#include <cstddef>
#include <string>

// Decodes text (RFC 4648 standard alphabet, "=" padding, no line breaks)
// into bytes, replacing its content. Refuses a length that is not a multiple
// of 4, any other character, padding anywhere but in the last one or two
// places, and set bits that the padding leaves unused (the text would then
// not be the encoding of its own bytes). On refusal, problem says why in a
// few words and bytes is unspecified.
bool DecodeBase64(const char* text, size_t length, std::string& bytes, std::string& problem);

// The same for one piece of a longer text (a line of a wrapped payload),
// decoded straight to out, which has room for length / 4 * 3 bytes: length
// must be a multiple of 4, padding is taken only when last is true, and the
// offsets in problem count from offset, the piece's place in the whole text.
// Sets written to the bytes written.
bool DecodeBase64Piece(const char* text, size_t length, bool last, size_t offset, char* out, size_t& written,
                       std::string& problem);

// Decodes count whole lines of a wrapped payload, kBase64LineLength
// characters each, the next starting stride bytes after (past its "\n"),
// to out, kBase64LineLength / 4 * 3 bytes a line. Stops at the first line
// holding anything but the alphabet (padding included), which
// DecodeBase64Piece then decodes or refuses; returns the lines decoded.
size_t DecodeWholeLines(const char* text, size_t count, size_t stride, char* out);
