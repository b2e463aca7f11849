// The encoder at every length from 0 to 10 (each padding case twice, a high
// byte and a NUL inside), the wrapping around the 100-character line, and
// the allocation size at every length.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "report_format/base64.h"
#include "report_format/record_format.h"

namespace {

const char kInput[] = "Brevora!\xFF";  // with its terminator: ten bytes

// RFC 4648 encodings of the first n bytes of kInput (NUL included at 10),
// taken from an independent encoder.
const char* const kEncodedPrefixes[] = {
    "",
    "Qg==",
    "QnI=",
    "QnJl",
    "QnJldg==",
    "QnJldm8=",
    "QnJldm9y",
    "QnJldm9yYQ==",
    "QnJldm9yYSE=",
    "QnJldm9yYSH/",
    "QnJldm9yYSH/AA==",
};

TEST(Base64EncodeLengths, EveryLengthFromZeroToTen)
{
    for (uint32_t length = 0; length <= 10; ++length) {
        SCOPED_TRACE(length);
        EXPECT_EQ(kEncodedPrefixes[length], Base64Encode(length, kInput));
    }
}

TEST(Base64EncodeLengths, TextAndTerminatorFitTheAllocationAtEveryLength)
{
    // len * 4 / 3 + 4 with integer division: the tightest case is a length of
    // one more than a multiple of three, which needs exactly that much.
    std::string bytes(3000, '\x80');
    for (uint32_t length = 0; length <= bytes.size(); ++length) {
        const size_t allocated = static_cast<size_t>(length) * 4 / 3 + 4;
        const size_t needed = (length + 2) / 3 * 4 + 1;
        ASSERT_LE(needed, allocated) << length;
        const std::string text = Base64Encode(length, bytes.data());
        ASSERT_EQ(needed - 1, text.size()) << length;
        ASSERT_EQ(text.size(), std::strlen(text.c_str())) << "no NUL inside the text";
    }
}

struct WrapRow
{
    const char* name;
    size_t bytes;
    size_t firstLine;
    size_t secondLine;  // 0: no line feed at all
};

void PrintTo(const WrapRow& row, std::ostream* os)
{
    *os << row.name;
}

class FileWrapTest : public ::testing::TestWithParam<WrapRow> {};

TEST_P(FileWrapTest, SplitsAfterTheHundredthCharacter)
{
    const WrapRow& row = GetParam();
    const std::string bytes(row.bytes, 'q');
    const std::string text = MakeFilePayload(bytes.data(), bytes.size());
    const size_t lineFeed = text.find('\n');
    if (row.secondLine == 0) {
        EXPECT_EQ(std::string::npos, lineFeed);
        EXPECT_EQ(row.firstLine, text.size());
    } else {
        ASSERT_NE(std::string::npos, lineFeed);
        EXPECT_EQ(row.firstLine, lineFeed);
        EXPECT_EQ(row.secondLine, text.size() - lineFeed - 1);
        EXPECT_EQ(std::string::npos, text.find('\n', lineFeed + 1));
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, FileWrapTest,
    ::testing::Values(WrapRow{"SeventyFour", 74, 100, 0},
                      WrapRow{"SeventyFive", 75, 100, 0},
                      WrapRow{"SeventySix", 76, 100, 4},
                      WrapRow{"SeventySeven", 77, 100, 4},
                      WrapRow{"SeventyEight", 78, 100, 4},
                      WrapRow{"SeventyNine", 79, 100, 8}),
    [](const ::testing::TestParamInfo<WrapRow>& info) { return std::string(info.param.name); });

// Against a bit-at-a-time encoder, at every length around the twelve-byte
// steps of the fast path, over every byte value (so every character).
TEST(Base64Encode, AgreesWithABitByBitEncoder)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes;
    for (int i = 0; i < 300; ++i)
        bytes += static_cast<char>((i * 167 + i / 256) & 0xFF);
    for (uint32_t length = 0; length <= bytes.size(); ++length) {
        std::string expected;
        uint32_t bits = 0, count = 0;
        for (uint32_t i = 0; i < length; ++i) {
            bits = (bits << 8) | static_cast<unsigned char>(bytes[i]);
            for (count += 8; count >= 6; count -= 6)
                expected += alphabet[(bits >> (count - 6)) & 0x3F];
        }
        if (count > 0)
            expected += alphabet[(bits << (6 - count)) & 0x3F];
        expected.append((4 - expected.size() % 4) % 4, '=');
        ASSERT_EQ(expected, Base64Encode(length, bytes.data())) << "length " << length;
    }
}

// The word-at-a-time scan against the plain one: every size around a word,
// the NUL at every place or nowhere, over bytes that word tricks mistake for
// zero (0x01 next to 0x80, 0xFF).
TEST(CountBytesBeforeNul, AgreesWithAByteByByteScan)
{
    for (const unsigned char filler : { 0x01, 0x80, 0xFF, 0x7F }) {
        for (size_t size = 0; size <= 20; ++size) {
            for (size_t nul = 0; nul <= size; ++nul) {  // nul == size: none
                std::string bytes(size, static_cast<char>(filler));
                for (size_t i = 1; i < size; i += 2)
                    bytes[i] = static_cast<char>(0x80);
                if (nul < size)
                    bytes[nul] = '\0';
                EXPECT_EQ(nul, CountBytesBeforeNul(bytes.data(), size))
                    << "size " << size << ", filler " << int(filler);
            }
        }
    }
}

}  // namespace
