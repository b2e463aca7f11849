#include "server/base64_decode.h"

#include <array>
#include <cstdint>
#include <cstdio>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Each character's six bits already in their place in a group's 24, one
// table per place, so that a group is four lookups and three ORs. Anything
// but the alphabet (the padding too) sets a bit above the 24: one test per
// group sends it to the careful path.
const uint32_t kNotAlphabet = 0x01000000;

struct GroupTables
{
    std::array<uint32_t, 256> place[4];
};

GroupTables MakeGroupTables()
{
    GroupTables tables;
    for (int p = 0; p < 4; ++p) {
        tables.place[p].fill(kNotAlphabet);
        for (uint32_t i = 0; i < 64; ++i)
            tables.place[p][static_cast<uint8_t>(kAlphabet[i])] = i << (18 - 6 * p);
    }
    return tables;
}

const GroupTables kTables = MakeGroupTables();

const uint8_t kInvalid = 0xFF;
const uint8_t kPad = 0xFE;

uint8_t DecodeCharacter(uint8_t c)
{
    if (c == '=')
        return kPad;
    const uint32_t v = kTables.place[3][c];
    return v == kNotAlphabet ? kInvalid : static_cast<uint8_t>(v);
}

std::string DescribeCharacter(uint8_t c, size_t offset)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "bad base64 character 0x%02X at offset %zu", static_cast<unsigned>(c), offset);
    return buffer;
}

// The group at text that the fast path refused: a wrong character, or the
// padding, which only the last group of the whole text may have.
bool DecodeOddGroup(const uint8_t* text, bool last, size_t offset, char*& out, std::string& problem)
{
    uint8_t v[4];
    for (size_t j = 0; j < 4; ++j) {
        v[j] = DecodeCharacter(text[j]);
        if (v[j] == kInvalid) {
            problem = DescribeCharacter(text[j], offset + j);
            return false;
        }
    }
    // Padding: "xx==" or "xxx=".
    int pads = 0;
    if (v[3] == kPad)
        pads = (v[2] == kPad) ? 2 : 1;
    if (v[0] == kPad || v[1] == kPad || (v[2] == kPad && v[3] != kPad) || (pads > 0 && !last)) {
        problem = "misplaced base64 padding in the group at offset " + std::to_string(offset);
        return false;
    }
    if ((pads == 2 && (v[1] & 0x0F) != 0) || (pads == 1 && (v[2] & 0x03) != 0)) {
        problem = "base64 text ends in unused bits that are not zero";
        return false;
    }
    *out++ = static_cast<char>((v[0] << 2) | (v[1] >> 4));
    if (pads < 2)
        *out++ = static_cast<char>(((v[1] & 0x0F) << 4) | (v[2] >> 2));
    if (pads < 1)
        *out++ = static_cast<char>(((v[2] & 0x03) << 6) | v[3]);
    return true;
}

}  // namespace

bool DecodeBase64Piece(const char* text, size_t length, bool last, size_t offset, char* out, size_t& written,
                       std::string& problem)
{
    const uint8_t* in = reinterpret_cast<const uint8_t*>(text);
    char* const start = out;
    for (size_t i = 0; i < length; i += 4) {
        const uint32_t group = kTables.place[0][in[i]] | kTables.place[1][in[i + 1]] | kTables.place[2][in[i + 2]] |
                               kTables.place[3][in[i + 3]];
        if (group < kNotAlphabet) {
            out[0] = static_cast<char>(group >> 16);
            out[1] = static_cast<char>(group >> 8);
            out[2] = static_cast<char>(group);
            out += 3;
            continue;
        }
        // Only the last group of the last piece may carry padding.
        if (!DecodeOddGroup(in + i, last && i + 4 == length, offset + i, out, problem))
            return false;
    }
    written = static_cast<size_t>(out - start);
    return true;
}

bool DecodeBase64(const char* text, size_t length, std::string& bytes, std::string& problem)
{
    bytes.clear();
    if (length % 4 != 0) {
        problem = "base64 length " + std::to_string(length) + " is not a multiple of 4";
        return false;
    }
    bytes.resize(length / 4 * 3);
    size_t written = 0;
    if (!DecodeBase64Piece(text, length, true, 0, bytes.empty() ? nullptr : &bytes[0], written, problem))
        return false;
    bytes.resize(written);
    return true;
}
