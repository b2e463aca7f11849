// The reporter's base64 encoder (RFC 4648, standard alphabet, "=" padding,
// no line breaks). Portable: no <windows.h>, so the server's tests and the
// fuzzer can check the server's decoder against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Bytes carried over between blocks: an encoder works on groups of three.
struct Base64State
{
    uint8_t pendingCount;  // 0, 1 or 2
    uint8_t pending[2];
};

// Puts the state's pending bytes in front of bytes, writes four characters
// for every complete group of three and keeps the one or two bytes left over
// in the state. out needs room for (pendingCount + length) / 3 * 4
// characters; no terminator is written. Returns the characters written.
size_t Base64EncodeBlock(Base64State* state, uint32_t length, const char* bytes, char* out);

// Writes the last group from the state (two characters and "==" for one
// pending byte, three and "=" for two, nothing for none), then a NUL.
// Returns the characters written, the NUL not counted.
size_t Base64EncodeEnd(Base64State* state, char* out);

// Encodes length bytes (no terminator needed). Throws std::bad_alloc when
// memory runs out.
std::string Base64Encode(uint32_t length, const char* bytes);
