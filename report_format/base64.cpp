#include "report_format/base64.h"

#include <cstring>

// x86 processors with SSSE3 (all from the last fifteen years or so) encode
// twelve bytes at a step; the table below does the rest and the others.
#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__) || defined(_M_IX86)
#define BREVORA_BASE64_SSSE3 1
#include <tmmintrin.h>
#if defined(_MSC_VER)
#include <intrin.h>
#endif
// MSVC compiles the intrinsics for any target; GCC and Clang (clang-cl too)
// for the functions marked.
#if defined(__GNUC__) || defined(__clang__)
#define BREVORA_TARGET_SSSE3 __attribute__((target("ssse3")))
#else
#define BREVORA_TARGET_SSSE3
#endif
#else
#define BREVORA_BASE64_SSSE3 0
#endif

static constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The two characters of every 12-bit value, so that three bytes take two
// lookups instead of four: the encoder runs near the speed of a copy.
struct CharPairs
{
    char pairs[4096][2];
};

static constexpr CharPairs MakeCharPairs()
{
    CharPairs table = {};
    for (int i = 0; i < 4096; ++i) {
        table.pairs[i][0] = kAlphabet[i >> 6];
        table.pairs[i][1] = kAlphabet[i & 0x3F];
    }
    return table;
}

static const CharPairs kCharPairs = MakeCharPairs();

static void EncodeGroup(uint8_t a, uint8_t b, uint8_t c, char* out)
{
    out[0] = kAlphabet[a >> 2];
    out[1] = kAlphabet[((a & 0x03) << 4) | (b >> 4)];
    out[2] = kAlphabet[((b & 0x0F) << 2) | (c >> 6)];
    out[3] = kAlphabet[c & 0x3F];
}

#if BREVORA_BASE64_SSSE3
static bool HasSsse3()
{
#if defined(_MSC_VER)
    int info[4];
    __cpuid(info, 1);
    return (info[2] & (1 << 9)) != 0;
#else
    __builtin_cpu_init();  // this runs before main, perhaps before the library's own set-up
    return __builtin_cpu_supports("ssse3") != 0;
#endif
}

static const bool g_hasSsse3 = HasSsse3();

// Every step reads 16 bytes and encodes the first 12 into 16 characters:
// the bytes are spread so that each 32-bit lane holds one group of three,
// the four 6-bit values are moved into the lane's four bytes with two
// multiplications, and each value is turned into its character by adding
// the offset of its range of the alphabet. Returns the bytes encoded.
BREVORA_TARGET_SSSE3 static size_t EncodeWithSsse3(const uint8_t* in, size_t length, char* out)
{
    const __m128i spread = _mm_set_epi8(10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1);
    const __m128i highMask = _mm_set1_epi32(0x0FC0FC00);
    const __m128i highShift = _mm_set1_epi32(0x04000040);
    const __m128i lowMask = _mm_set1_epi32(0x003F03F0);
    const __m128i lowShift = _mm_set1_epi32(0x01000010);
    // 'A'-0, 'a'-26, ten times '0'-52, '+'-62, '/'-63.
    const __m128i offsets = _mm_setr_epi8(65, 71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 0, 0);
    size_t done = 0;
    for (; length - done >= 16; done += 12, out += 16) {
        const __m128i bytes = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done)), spread);
        const __m128i high = _mm_mulhi_epu16(_mm_and_si128(bytes, highMask), highShift);
        const __m128i low = _mm_mullo_epi16(_mm_and_si128(bytes, lowMask), lowShift);
        const __m128i values = _mm_or_si128(high, low);
        // 0 for A-Z, 1 for a-z, 2..11 for the digits, 12 and 13 for + and /.
        __m128i range = _mm_subs_epu8(values, _mm_set1_epi8(51));
        range = _mm_sub_epi8(range, _mm_cmpgt_epi8(values, _mm_set1_epi8(25)));
        const __m128i chars = _mm_add_epi8(values, _mm_shuffle_epi8(offsets, range));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), chars);
    }
    return done;
}
#endif

size_t Base64EncodeBlock(Base64State* state, uint32_t length, const char* bytes, char* out)
{
    // Bytes are taken as 0..255 whatever the signedness of char.
    const uint8_t* in = reinterpret_cast<const uint8_t*>(bytes);
    const uint8_t* const end = in + length;
    char* p = out;

    // Complete the group the previous block left open.
    while (state->pendingCount > 0 && in != end) {
        if (state->pendingCount == 2) {
            EncodeGroup(state->pending[0], state->pending[1], *in++, p);
            p += 4;
            state->pendingCount = 0;
        } else {
            state->pending[1] = *in++;
            state->pendingCount = 2;
        }
    }

#if BREVORA_BASE64_SSSE3
    if (g_hasSsse3 && end - in >= 16) {
        const size_t encoded = EncodeWithSsse3(in, static_cast<size_t>(end - in), p);
        in += encoded;
        p += encoded / 3 * 4;
    }
#endif
    while (end - in >= 3) {
        const uint32_t group = (static_cast<uint32_t>(in[0]) << 16) | (static_cast<uint32_t>(in[1]) << 8) | in[2];
        std::memcpy(p, kCharPairs.pairs[group >> 12], 2);
        std::memcpy(p + 2, kCharPairs.pairs[group & 0xFFF], 2);
        in += 3;
        p += 4;
    }

    while (in != end)
        state->pending[state->pendingCount++] = *in++;

    return static_cast<size_t>(p - out);
}

size_t Base64EncodeEnd(Base64State* state, char* out)
{
    size_t written = 0;
    if (state->pendingCount == 1) {
        EncodeGroup(state->pending[0], 0, 0, out);
        out[2] = '=';
        out[3] = '=';
        written = 4;
    } else if (state->pendingCount == 2) {
        EncodeGroup(state->pending[0], state->pending[1], 0, out);
        out[3] = '=';
        written = 4;
    }
    state->pendingCount = 0;
    out[written] = '\0';
    return written;
}

std::string Base64Encode(uint32_t length, const char* bytes)
{
    // size_t arithmetic: length * 4 must not wrap for inputs above 1 GiB.
    // Room for the terminator that Base64EncodeEnd writes.
    std::string text(static_cast<size_t>(length) * 4 / 3 + 4, '\0');
    Base64State state = {0, {0, 0}};
    size_t written = Base64EncodeBlock(&state, length, bytes, &text[0]);
    written += Base64EncodeEnd(&state, &text[written]);
    text.resize(written);
    return text;
}
