#include "report_format/base64.h"

#include <cstring>

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
