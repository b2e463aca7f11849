#include "server/report/base64_decode.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "report_format/record_format.h"

// Sixteen characters at a time where the processor has SSSE3: decoding
// took a fifth of the server's time an upload.
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#define BREVORA_BASE64_SSSE3 1
#include <immintrin.h>
#endif

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

#ifdef BREVORA_BASE64_SSSE3

// Decodes whole blocks of 16 characters of the alphabet (12 bytes each)
// and stops at the first block holding anything else, padding included,
// which the group-by-group path then decodes or refuses as it would
// anyway. Returns the characters decoded.
__attribute__((target("ssse3"))) size_t DecodeBlocks(const uint8_t* in, size_t length, char* out)
{
    const __m128i upperFrom = _mm_set1_epi8('A' - 1), upperTo = _mm_set1_epi8('Z' + 1);
    const __m128i lowerFrom = _mm_set1_epi8('a' - 1), lowerTo = _mm_set1_epi8('z' + 1);
    const __m128i digitFrom = _mm_set1_epi8('0' - 1), digitTo = _mm_set1_epi8('9' + 1);
    const __m128i plus = _mm_set1_epi8('+'), slash = _mm_set1_epi8('/');
    // What each class adds to a character to make its six bits.
    const __m128i upperShift = _mm_set1_epi8(-65), lowerShift = _mm_set1_epi8(-71);
    const __m128i digitShift = _mm_set1_epi8(4), plusShift = _mm_set1_epi8(19), slashShift = _mm_set1_epi8(16);
    // Pairs of six bits into twelve, pairs of twelve into 24, then each
    // group's three bytes in order.
    const __m128i pairSixes = _mm_set1_epi32(0x01400140);
    const __m128i pairTwelves = _mm_set1_epi32(0x00011000);
    const __m128i order = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);

    size_t i = 0;
    for (; i + 16 <= length; i += 16) {
        // Bytes from 0x80 are negative here and fall in no class.
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i upper = _mm_and_si128(_mm_cmpgt_epi8(c, upperFrom), _mm_cmplt_epi8(c, upperTo));
        const __m128i lower = _mm_and_si128(_mm_cmpgt_epi8(c, lowerFrom), _mm_cmplt_epi8(c, lowerTo));
        const __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(c, digitFrom), _mm_cmplt_epi8(c, digitTo));
        const __m128i isPlus = _mm_cmpeq_epi8(c, plus);
        const __m128i isSlash = _mm_cmpeq_epi8(c, slash);
        const __m128i valid =
            _mm_or_si128(_mm_or_si128(upper, lower), _mm_or_si128(digit, _mm_or_si128(isPlus, isSlash)));
        if (_mm_movemask_epi8(valid) != 0xFFFF)
            break;
        const __m128i shift = _mm_or_si128(
            _mm_or_si128(_mm_and_si128(upper, upperShift), _mm_and_si128(lower, lowerShift)),
            _mm_or_si128(_mm_and_si128(digit, digitShift),
                         _mm_or_si128(_mm_and_si128(isPlus, plusShift), _mm_and_si128(isSlash, slashShift))));
        const __m128i sixes = _mm_add_epi8(c, shift);
        const __m128i groups = _mm_madd_epi16(_mm_maddubs_epi16(sixes, pairSixes), pairTwelves);
        const __m128i bytes = _mm_shuffle_epi8(groups, order);
        // Exactly twelve bytes: the room after a piece's last block may be less than sixteen.
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), bytes);
        const int tail = _mm_cvtsi128_si32(_mm_srli_si128(bytes, 8));
        std::memcpy(out + 8, &tail, 4);
        out += 12;
    }
    return i;
}

bool HasSsse3()
{
    static const bool has = __builtin_cpu_supports("ssse3") != 0;
    return has;
}

bool HasAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2") != 0;
    return has;
}

// Twelve bytes exactly: what follows them in out may not be this line's.
__attribute__((target("avx2"))) inline void StoreTwelve(char* out, __m128i bytes)
{
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), bytes);
    const int tail = _mm_cvtsi128_si32(_mm_srli_si128(bytes, 8));
    std::memcpy(out + 8, &tail, 4);
}

// DecodeBlocks' arithmetic on 32 characters at a time, a whole line of 100
// as four blocks: at 0, 32, 64, and at 68 over the third's last 28, so that
// no group of four is left for the slower path.
__attribute__((target("avx2"))) size_t DecodeWholeLinesAvx2(const uint8_t* in, size_t count, size_t stride,
                                                             char* out)
{
    static_assert(kBase64LineLength == 100, "the blocks below cover a line of 100");
    static const size_t kBlockAt[4] = {0, 32, 64, 68};
    const __m256i upperFrom = _mm256_set1_epi8('A' - 1), upperTo = _mm256_set1_epi8('Z' + 1);
    const __m256i lowerFrom = _mm256_set1_epi8('a' - 1), lowerTo = _mm256_set1_epi8('z' + 1);
    const __m256i digitFrom = _mm256_set1_epi8('0' - 1), digitTo = _mm256_set1_epi8('9' + 1);
    const __m256i plus = _mm256_set1_epi8('+'), slash = _mm256_set1_epi8('/');
    const __m256i upperShift = _mm256_set1_epi8(-65), lowerShift = _mm256_set1_epi8(-71);
    const __m256i digitShift = _mm256_set1_epi8(4), plusShift = _mm256_set1_epi8(19),
                  slashShift = _mm256_set1_epi8(16);
    const __m256i pairSixes = _mm256_set1_epi32(0x01400140);
    const __m256i pairTwelves = _mm256_set1_epi32(0x00011000);
    const __m256i order = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2, 1, 0, 6, 5, 4,
                                           10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    for (size_t line = 0; line < count; ++line, in += stride, out += kBase64LineLength / 4 * 3) {
        for (size_t at : kBlockAt) {
            const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + at));
            const __m256i upper = _mm256_and_si256(_mm256_cmpgt_epi8(c, upperFrom), _mm256_cmpgt_epi8(upperTo, c));
            const __m256i lower = _mm256_and_si256(_mm256_cmpgt_epi8(c, lowerFrom), _mm256_cmpgt_epi8(lowerTo, c));
            const __m256i digit = _mm256_and_si256(_mm256_cmpgt_epi8(c, digitFrom), _mm256_cmpgt_epi8(digitTo, c));
            const __m256i isPlus = _mm256_cmpeq_epi8(c, plus);
            const __m256i isSlash = _mm256_cmpeq_epi8(c, slash);
            const __m256i valid = _mm256_or_si256(_mm256_or_si256(upper, lower),
                                                  _mm256_or_si256(digit, _mm256_or_si256(isPlus, isSlash)));
            if (_mm256_movemask_epi8(valid) != -1)
                return line;
            const __m256i shift = _mm256_or_si256(
                _mm256_or_si256(_mm256_and_si256(upper, upperShift), _mm256_and_si256(lower, lowerShift)),
                _mm256_or_si256(_mm256_and_si256(digit, digitShift),
                                _mm256_or_si256(_mm256_and_si256(isPlus, plusShift),
                                                _mm256_and_si256(isSlash, slashShift))));
            const __m256i sixes = _mm256_add_epi8(c, shift);
            const __m256i groups = _mm256_madd_epi16(_mm256_maddubs_epi16(sixes, pairSixes), pairTwelves);
            const __m256i bytes = _mm256_shuffle_epi8(groups, order);
            StoreTwelve(out + at / 4 * 3, _mm256_castsi256_si128(bytes));
            StoreTwelve(out + at / 4 * 3 + 12, _mm256_extracti128_si256(bytes, 1));
        }
    }
    return count;
}

#endif

}  // namespace

bool DecodeBase64Piece(const char* text, size_t length, bool last, size_t offset, char* out, size_t& written,
                       std::string& problem)
{
    const uint8_t* in = reinterpret_cast<const uint8_t*>(text);
    char* const start = out;
    size_t i = 0;
#ifdef BREVORA_BASE64_SSSE3
    if (HasSsse3()) {
        i = DecodeBlocks(in, length, out);
        out += i / 4 * 3;
    }
#endif
    for (; i < length; i += 4) {
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

size_t DecodeWholeLines(const char* text, size_t count, size_t stride, char* out)
{
#ifdef BREVORA_BASE64_SSSE3
    if (HasAvx2())
        return DecodeWholeLinesAvx2(reinterpret_cast<const uint8_t*>(text), count, stride, out);
#endif
    std::string ignored;
    for (size_t line = 0; line < count; ++line, text += stride, out += kBase64LineLength / 4 * 3) {
        size_t written = 0;
        if (!DecodeBase64Piece(text, kBase64LineLength, false, 0, out, written, ignored))
            return line;
    }
    return count;
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
