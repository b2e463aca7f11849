#include "server/base64_decode.h"

#include <array>
#include <cstdint>
#include <cstdio>

namespace {

const uint8_t kInvalid = 0xFF;
const uint8_t kPad = 0xFE;

std::array<uint8_t, 256> MakeDecodeTable()
{
    std::array<uint8_t, 256> table;
    table.fill(kInvalid);
    const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (uint8_t i = 0; i < 64; ++i)
        table[static_cast<uint8_t>(alphabet[i])] = i;
    table['='] = kPad;
    return table;
}

const std::array<uint8_t, 256> kDecodeTable = MakeDecodeTable();

std::string DescribeCharacter(const char* text, size_t offset)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "bad base64 character 0x%02X at offset %zu",
                  static_cast<unsigned>(static_cast<uint8_t>(text[offset])), offset);
    return buffer;
}

}  // namespace

bool DecodeBase64(const char* text, size_t length, std::string& bytes, std::string& problem)
{
    bytes.clear();
    if (length % 4 != 0) {
        problem = "base64 length " + std::to_string(length) + " is not a multiple of 4";
        return false;
    }
    bytes.resize(length / 4 * 3);
    char* out = &bytes[0];

    // Every group but the last holds four alphabet characters: three bytes
    // each, written in place. The last group, and any group with something
    // else in it, goes the careful way below.
    size_t i = 0;
    const uint8_t* in = reinterpret_cast<const uint8_t*>(text);
    for (; i + 4 < length; i += 4, out += 3) {
        const uint8_t a = kDecodeTable[in[i]];
        const uint8_t b = kDecodeTable[in[i + 1]];
        const uint8_t c = kDecodeTable[in[i + 2]];
        const uint8_t d = kDecodeTable[in[i + 3]];
        if (((a | b | c | d) & 0xC0) != 0)
            break;
        out[0] = static_cast<char>((a << 2) | (b >> 4));
        out[1] = static_cast<char>(((b & 0x0F) << 4) | (c >> 2));
        out[2] = static_cast<char>(((c & 0x03) << 6) | d);
    }
    bytes.resize(i / 4 * 3);

    for (; i < length; i += 4) {
        uint8_t v[4];
        for (size_t j = 0; j < 4; ++j) {
            v[j] = kDecodeTable[static_cast<uint8_t>(text[i + j])];
            if (v[j] == kInvalid) {
                problem = DescribeCharacter(text, i + j);
                return false;
            }
        }

        const bool last = (i + 4 == length);
        // Padding: "xx==" or "xxx=", and only in the last group.
        int pads = 0;
        if (v[3] == kPad)
            pads = (v[2] == kPad) ? 2 : 1;
        if (v[0] == kPad || v[1] == kPad || (v[2] == kPad && v[3] != kPad) || (pads > 0 && !last)) {
            problem = "misplaced base64 padding in the group at offset " + std::to_string(i);
            return false;
        }

        bytes.push_back(static_cast<char>((v[0] << 2) | (v[1] >> 4)));
        if (pads == 2) {
            if ((v[1] & 0x0F) != 0) {
                problem = "base64 text ends in unused bits that are not zero";
                return false;
            }
        } else if (pads == 1) {
            if ((v[2] & 0x03) != 0) {
                problem = "base64 text ends in unused bits that are not zero";
                return false;
            }
            bytes.push_back(static_cast<char>(((v[1] & 0x0F) << 4) | (v[2] >> 2)));
        } else {
            bytes.push_back(static_cast<char>(((v[1] & 0x0F) << 4) | (v[2] >> 2)));
            bytes.push_back(static_cast<char>(((v[2] & 0x03) << 6) | v[3]));
        }
    }
    return true;
}
