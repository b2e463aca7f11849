// A bug report's texts converted from the code page the reporter named.
#include <gtest/gtest.h>

#include <string>

#include "server/base/code_page_text.h"

namespace {

struct CodePageRow
{
    const char* name;
    std::string bytes;
    std::string codePage;  // as the CodePage= line gave it
    std::string utf8;
};

void PrintTo(const CodePageRow& row, std::ostream* os)
{
    *os << row.name;
}

class ConvertFromCodePageTest : public ::testing::TestWithParam<CodePageRow> {};

TEST_P(ConvertFromCodePageTest, GivesTheTextAsTyped)
{
    EXPECT_EQ(GetParam().utf8, ConvertFromCodePage(GetParam().bytes, GetParam().codePage));
}

INSTANTIATE_TEST_SUITE_P(Rows, ConvertFromCodePageTest,
    ::testing::Values(
        CodePageRow{"CurlyQuotes1252", "clicked \x93" "add\x94", "1252", "clicked \xE2\x80\x9C" "add\xE2\x80\x9D"},
        CodePageRow{"Umlaut1252", "Abgest\xFCrzt", "1252", "Abgest\xC3\xBCrzt"},
        CodePageRow{"NoLineMeans1252", "Abgest\xFCrzt", "", "Abgest\xC3\xBCrzt"},
        CodePageRow{"NotANumberMeans1252", "\x80", "12x", "\xE2\x82\xAC"},
        CodePageRow{"CentralEurope1250", "\x9A", "1250", "\xC5\xA1"},
        CodePageRow{"Cyrillic1251", "\xCF\xF0\xE8", "1251", "\xD0\x9F\xD1\x80\xD0\xB8"},
        CodePageRow{"Japanese932", "\x83\x65\x83\x58\x83\x67", "932", "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88"},
        CodePageRow{"Utf8", "\xC3\xBC", "65001", "\xC3\xBC"},
        CodePageRow{"AsciiUnchanged", "plain\r\ntext", "1252", "plain\r\ntext"},
        // What the code page does not define stays visible as its byte.
        CodePageRow{"UndefinedByteEscaped", "a\x81" "b", "1252", "a\\x81b"},
        CodePageRow{"LeadByteCutShortEscaped", "x\x83", "932", "x\\x83"},
        CodePageRow{"UnknownCodePageTakes1252", "\xFC", "99999", "\xC3\xBC"}),
    [](const ::testing::TestParamInfo<CodePageRow>& info) { return std::string(info.param.name); });

struct EscapeRow
{
    const char* name;
    std::string utf8;
    std::string shown;
};

void PrintTo(const EscapeRow& row, std::ostream* os)
{
    *os << row.name;
}

class EscapeControlCharactersTest : public ::testing::TestWithParam<EscapeRow> {};

TEST_P(EscapeControlCharactersTest, ShowsTheControlsAsBytes)
{
    EXPECT_EQ(GetParam().shown, EscapeControlCharacters(GetParam().utf8));
}

INSTANTIATE_TEST_SUITE_P(Rows, EscapeControlCharactersTest,
    ::testing::Values(
        EscapeRow{"LineBreaksAndTabKept", "a\tb\nc", "a\tb\nc"},
        EscapeRow{"CrOfCrLfDropped", "a\r\nb", "a\nb"},
        EscapeRow{"LoneCrEscaped", "a\rb\r", "a\\x0Db\\x0D"},
        EscapeRow{"EscAndDelEscaped", "\x1B[31m\x7F", "\\x1B[31m\\x7F"},
        EscapeRow{"C1ControlAsItsSecondByte", "\xC2\x85x\xC2\x9F", "\\x85x\\x9F"},
        EscapeRow{"NoBreakSpaceKept", "\xC2\xA0", "\xC2\xA0"},
        EscapeRow{"OtherUtf8Kept", "\xC3\xBC\xE2\x82\xAC", "\xC3\xBC\xE2\x82\xAC"},
        EscapeRow{"LoneHighBytesKept", "\x85\xC2", "\x85\xC2"}),
    [](const ::testing::TestParamInfo<EscapeRow>& info) { return std::string(info.param.name); });

}  // namespace
