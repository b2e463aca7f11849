// The reporter's encoder and the server's decoder, against each other and
// against RFC 4648's own examples.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "report_format/base64.h"
#include "server/report/base64_decode.h"
#include "tests/server/report_factory.h"

namespace {

std::string Encode(const std::string& bytes)
{
    return Base64Encode(static_cast<uint32_t>(bytes.size()), bytes.data());
}

::testing::AssertionResult DecodesTo(const std::string& text, const std::string& expected)
{
    std::string bytes;
    std::string problem;
    if (!DecodeBase64(text.data(), text.size(), bytes, problem))
        return ::testing::AssertionFailure() << "\"" << text << "\" refused: " << problem;
    if (bytes != expected)
        return ::testing::AssertionFailure() << "\"" << text << "\" decoded to " << bytes.size() << " other bytes";
    return ::testing::AssertionSuccess();
}

struct KnownAnswer
{
    const char* name;
    std::string bytes;
    std::string text;
};

void PrintTo(const KnownAnswer& row, std::ostream* os)
{
    *os << row.name;
}

class Base64KnownAnswerTest : public ::testing::TestWithParam<KnownAnswer> {};

TEST_P(Base64KnownAnswerTest, EncodesAndDecodes)
{
    EXPECT_EQ(GetParam().text, Encode(GetParam().bytes));
    EXPECT_TRUE(DecodesTo(GetParam().text, GetParam().bytes));
}

// RFC 4648, section 10, plus the placeholder of an empty file and high bytes.
INSTANTIATE_TEST_SUITE_P(Rows, Base64KnownAnswerTest,
    ::testing::Values(KnownAnswer{"Empty", "", ""},
                      KnownAnswer{"F", "f", "Zg=="},
                      KnownAnswer{"Fo", "fo", "Zm8="},
                      KnownAnswer{"Foo", "foo", "Zm9v"},
                      KnownAnswer{"Foob", "foob", "Zm9vYg=="},
                      KnownAnswer{"Fooba", "fooba", "Zm9vYmE="},
                      KnownAnswer{"Foobar", "foobar", "Zm9vYmFy"},
                      KnownAnswer{"ThreeX", "XXX", "WFhY"},
                      KnownAnswer{"HighBytes", "\xFF\xFE\xFD\x80", "//79gA=="},
                      KnownAnswer{"PlusAndSlash", "\xFB\xEF\xBE", "++++"}),
    [](const ::testing::TestParamInfo<KnownAnswer>& info) { return std::string(info.param.name); });

TEST(Base64Encode, RoundTripsEveryByteValueAtEveryLength)
{
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    for (size_t length = 0; length <= all.size(); ++length) {
        SCOPED_TRACE(length);
        const std::string bytes = all.substr(all.size() - length);
        const std::string text = Encode(bytes);
        ASSERT_EQ((length + 2) / 3 * 4, text.size());
        ASSERT_TRUE(DecodesTo(text, bytes));
    }
}

TEST(Base64Encode, GivesFourCharactersPerStartedGroupAndNothingMore)
{
    for (uint32_t length : {0u, 1u, 2u, 3u, 4u, 5u, 74u, 75u, 76u, 1000u, 65537u}) {
        SCOPED_TRACE(length);
        const std::string bytes(length, 'x');
        const std::string text = Base64Encode(length, bytes.data());
        EXPECT_EQ(size_t{(length + 2) / 3 * 4}, text.size());
        EXPECT_EQ(text.size(), std::strlen(text.c_str())) << "no NUL inside the text";
    }
}

TEST(Base64EncodeBlock, AnySplitIntoBlocksGivesTheSameText)
{
    std::mt19937 rng(7);
    const std::string bytes = MakeRandomBytes(rng, 40, false);
    const std::string whole = Encode(bytes);
    for (size_t first = 0; first <= bytes.size(); ++first) {
        for (size_t second = first; second <= bytes.size(); second += 3) {
            SCOPED_TRACE(::testing::Message() << "blocks end at " << first << " and " << second);
            Base64State state = {0, {0, 0}};
            char out[80];
            size_t n = Base64EncodeBlock(&state, static_cast<uint32_t>(first), bytes.data(), out);
            n += Base64EncodeBlock(&state, static_cast<uint32_t>(second - first), bytes.data() + first, out + n);
            ASSERT_LT(state.pendingCount, 3);
            n += Base64EncodeBlock(&state, static_cast<uint32_t>(bytes.size() - second), bytes.data() + second,
                                   out + n);
            n += Base64EncodeEnd(&state, out + n);
            ASSERT_EQ(whole, std::string(out, n));
            ASSERT_EQ('\0', out[n]);
        }
    }
}

struct Refusal
{
    const char* name;
    std::string text;
    const char* problemPart;
};

void PrintTo(const Refusal& row, std::ostream* os)
{
    *os << row.name;
}

class DecodeBase64RefusalTest : public ::testing::TestWithParam<Refusal> {};

TEST_P(DecodeBase64RefusalTest, Refuses)
{
    std::string bytes;
    std::string problem;
    ASSERT_FALSE(DecodeBase64(GetParam().text.data(), GetParam().text.size(), bytes, problem));
    EXPECT_NE(std::string::npos, problem.find(GetParam().problemPart)) << problem;
}

INSTANTIATE_TEST_SUITE_P(Rows, DecodeBase64RefusalTest,
    ::testing::Values(Refusal{"OneCharacter", "Q", "not a multiple of 4"},
                      Refusal{"NoPadding", "Zm8", "not a multiple of 4"},
                      Refusal{"LineBreak", "Zm9v\nZm9v", "not a multiple of 4"},
                      Refusal{"Space", "Zm9 ", "0x20 at offset 3"},
                      Refusal{"UrlSafeMinus", "Zm-v", "0x2D at offset 2"},
                      Refusal{"UrlSafeUnderscore", "Zm_v", "0x5F"},
                      Refusal{"HighByte", "Zm\xC3v", "0xC3"},
                      Refusal{"Nul", std::string("Zm\0v", 4), "0x00"},
                      Refusal{"PadFirst", "=Zm9", "misplaced"},
                      Refusal{"PadSecond", "Z=m9", "misplaced"},
                      Refusal{"PadThird", "Zm=v", "misplaced"},
                      Refusal{"ThreePads", "Z===", "misplaced"},
                      Refusal{"FourPads", "====", "misplaced"},
                      Refusal{"PadInFirstGroup", "Zg==Zm9v", "misplaced"},
                      Refusal{"PadBitsAfterOneByte", "Zh==", "unused bits"},
                      Refusal{"PadBitsAfterTwoBytes", "Zm9=", "unused bits"},
                      // After whole groups: the fast path hands the group on.
                      Refusal{"BadCharacterInLaterGroup", "Zm9vYmFyYm!6", "0x21 at offset 10"},
                      Refusal{"HighByteEndsText", "Zm9vYmF\xFF", "0xFF at offset 7"},
                      Refusal{"PadInMiddleGroup", "Zm9vYg==YmFy", "misplaced base64 padding in the group at offset 4"},
                      Refusal{"PadBitsAfterWholeGroups", "Zm9vYmFyZh==", "unused bits"},
                      Refusal{"PadBitsAfterWholeGroupsOneByte", "Zm9vYmFyYmF=", "unused bits"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

// Every byte value in every place of a text long enough for the decoder's
// blocks of sixteen and its group-by-group tail: taken exactly when it is
// the encoding of its bytes, refused with the byte's own offset otherwise.
TEST(DecodeBase64, JudgesEveryByteInEveryPlaceAsOneGroupWould)
{
    std::mt19937 rng(5);
    const std::string valid = Encode(MakeRandomBytes(rng, 39, false));  // 52 characters
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (size_t place = 0; place < valid.size(); ++place) {
        for (int value = 0; value < 256; ++value) {
            std::string text = valid;
            text[place] = static_cast<char>(value);
            std::string bytes;
            std::string problem;
            const bool decoded = DecodeBase64(text.data(), text.size(), bytes, problem);
            SCOPED_TRACE(::testing::Message() << "byte " << value << " at " << place << ": " << problem);
            if (alphabet.find(static_cast<char>(value)) != std::string::npos) {
                ASSERT_TRUE(decoded);
                ASSERT_EQ(text, Encode(bytes));
            } else if (value == '=') {
                ASSERT_EQ(place == valid.size() - 1, decoded || problem.find("unused bits") != std::string::npos);
            } else {
                char offset[64];
                std::snprintf(offset, sizeof offset, "0x%02X at offset %zu", static_cast<unsigned>(value), place);
                ASSERT_FALSE(decoded);
                ASSERT_NE(std::string::npos, problem.find(offset));
            }
        }
    }
}

// The same for whole lines of a wrapped payload: two lines of 100 and
// their "\n"s, every byte value in every place of both. The lines before
// the odd byte's are decoded; its own line is where decoding stops.
TEST(DecodeBase64, WholeLinesStopAtTheLineOfAnyByteOutsideTheAlphabet)
{
    std::mt19937 rng(7);
    const std::string first = Encode(MakeRandomBytes(rng, 75, false));
    const std::string second = Encode(MakeRandomBytes(rng, 75, false));
    const std::string valid = first + "\n" + second + "\n";
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (size_t place = 0; place < valid.size(); ++place) {
        if (valid[place] == '\n')
            continue;
        const size_t line = place / 101;
        for (int value = 0; value < 256; ++value) {
            std::string text = valid;
            text[place] = static_cast<char>(value);
            std::string bytes(150, '\0');
            const size_t decoded = DecodeWholeLines(text.data(), 2, 101, &bytes[0]);
            SCOPED_TRACE(::testing::Message() << "byte " << value << " at " << place);
            const bool inAlphabet = alphabet.find(static_cast<char>(value)) != std::string::npos;
            ASSERT_EQ(inAlphabet ? 2u : line, decoded);
            for (size_t l = 0; l < decoded; ++l)
                ASSERT_EQ(text.substr(l * 101, 100), Encode(bytes.substr(l * 75, 75)));
        }
    }
}

// The decoder takes a text exactly when it is the encoding of its own bytes.
TEST(DecodeBase64, AcceptsExactlyCanonicalGroups)
{
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
    std::mt19937 rng(11);
    std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
    int accepted = 0;
    for (int i = 0; i < 100000; ++i) {
        std::string text(4, ' ');
        for (char& c : text)
            c = alphabet[pick(rng)];
        if (i % 2 == 0) {
            text[3] = '=';  // make padded groups common
            if (i % 4 == 0)
                text[2] = '=';
        }
        std::string bytes;
        std::string problem;
        const bool decoded = DecodeBase64(text.data(), text.size(), bytes, problem);
        ASSERT_EQ(decoded, decoded && Encode(bytes) == text) << text;
        const bool canonical = text.find('=') == std::string::npos ||
                               (text.find('=') >= 2 && text.find_first_not_of('=', text.find('=')) ==
                                                           std::string::npos);
        if (canonical && !decoded) {
            // Only set padding bits may make a well-placed group fail.
            ASSERT_NE(std::string::npos, problem.find("unused bits")) << text << ": " << problem;
        }
        accepted += decoded;
    }
    EXPECT_GT(accepted, 10000);
}

}  // namespace
