// Bounds-checked little-endian reads from untrusted bytes: every read says
// whether the bytes were there, and offsets are added in 64 bits.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

struct ByteView
{
    const uint8_t* data = nullptr;
    uint64_t size = 0;
};

// True when [offset, offset + length) lies inside view, without overflow.
inline bool HasBytes(ByteView view, uint64_t offset, uint64_t length)
{
    return offset <= view.size && length <= view.size - offset;
}

inline uint16_t LoadU16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t LoadU32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t LoadU64(const uint8_t* p)
{
    return static_cast<uint64_t>(LoadU32(p)) | (static_cast<uint64_t>(LoadU32(p + 4)) << 32);
}

// The sub-view [offset, offset + length), or an empty view when it is not
// all there.
inline ByteView SliceBytes(ByteView view, uint64_t offset, uint64_t length)
{
    if (!HasBytes(view, offset, length))
        return ByteView{};
    return ByteView{view.data + offset, length};
}

// Fixed-layout field reads for a structure already known to fit (callers
// check the structure's size once with HasBytes).
inline uint16_t FieldU16(ByteView view, uint64_t offset) { return LoadU16(view.data + offset); }
inline uint32_t FieldU32(ByteView view, uint64_t offset) { return LoadU32(view.data + offset); }
inline uint64_t FieldU64(ByteView view, uint64_t offset) { return LoadU64(view.data + offset); }

// "0x1f" style hexadecimal, as crash texts print addresses and codes.
std::string FormatHex(uint64_t value);
// "0x00000000c0000005" style: fixed width in hex digits.
std::string FormatHexWidth(uint64_t value, int digits);

// UTF-16LE to UTF-8; unpaired surrogates become U+FFFD.
std::string ConvertUtf16ToUtf8(const uint8_t* bytes, uint64_t units);
