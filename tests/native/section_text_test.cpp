// The profile section block turned into the text of record 5.
#include <gtest/gtest.h>

#include <string>

#include "report_format/section_text.h"

namespace {

struct SectionRow
{
    const char* name;
    std::string block;  // as the service returns it, without the final extra NUL
    std::string text;
};

void PrintTo(const SectionRow& row, std::ostream* os)
{
    *os << row.name;
}

class JoinSectionEntriesTest : public ::testing::TestWithParam<SectionRow> {};

TEST_P(JoinSectionEntriesTest, JoinsWithLineFeeds)
{
    std::string buffer = GetParam().block + std::string(2, '\0');
    const size_t length = JoinSectionEntries(&buffer[0], GetParam().block.size());
    EXPECT_EQ(GetParam().text.size(), length);
    EXPECT_EQ(GetParam().text, std::string(buffer.c_str()));
}

INSTANTIATE_TEST_SUITE_P(Rows, JoinSectionEntriesTest,
    ::testing::Values(
        SectionRow{"Empty", "", ""},
        SectionRow{"OneEntry", std::string("PATH=C:\\windows\0", 16), "PATH=C:\\windows"},
        SectionRow{"EveryEntryInOrder",
                   std::string("PATH=a\0HOMEPATH=\\users\\me\0TEMP=C:\\t\0USERNAME=me\0", 47),
                   "PATH=a\nHOMEPATH=\\users\\me\nTEMP=C:\\t\nUSERNAME=me"},
        SectionRow{"UnsetVariableKeepsItsReference", std::string("A=1\0GST_PLUGIN_PATH=%GST_PLUGIN_PATH%\0", 38),
                   "A=1\nGST_PLUGIN_PATH=%GST_PLUGIN_PATH%"},
        SectionRow{"CarriageReturnAndSpacesStay", std::string("A= x \r\0B=\0", 10), "A= x \r\nB="},
        SectionRow{"HighBytesStay", std::string("USERNAME=J\xF6rg\0", 14), "USERNAME=J\xF6rg"},
        // A block the service had to cut short ends without its NUL.
        SectionRow{"CutShortBlock", std::string("A=1\0B=2", 7), "A=1\nB=2"}),
    [](const ::testing::TestParamInfo<SectionRow>& info) { return std::string(info.param.name); });

struct ComponentRow
{
    const char* name;
    std::string section;  // the joined entries
    std::string component;
    size_t limit;
    std::string text;
};

void PrintTo(const ComponentRow& row, std::ostream* os)
{
    *os << row.name;
}

class AppendComponentLineTest : public ::testing::TestWithParam<ComponentRow> {};

TEST_P(AppendComponentLineTest, EndsTheTextWithTheComponent)
{
    std::string text = GetParam().section;
    AppendComponentLine(text, GetParam().component, GetParam().limit);
    EXPECT_EQ(GetParam().text, text);
}

INSTANTIATE_TEST_SUITE_P(Rows, AppendComponentLineTest,
    ::testing::Values(
        ComponentRow{"AfterTheEntries", "PATH=a\nTEMP=b", "Player", 100, "PATH=a\nTEMP=b\nElement=Player"},
        ComponentRow{"AloneWithoutEntries", "", "Player", 100, "Element=Player"},
        ComponentRow{"TrailingCarriageReturnStays", "A=1", "Player\r", 100, "A=1\nElement=Player\r"},
        ComponentRow{"NoComponentStillGivesTheLine", "A=1", "", 100, "A=1\nElement="},
        ComponentRow{"HighBytesStay", "A=1", "Biblioth\xE8que", 100, "A=1\nElement=Biblioth\xE8que"},
        // "Element=Player" is 14 bytes: 5 bytes of entries and the line feed fit in 20.
        ComponentRow{"EntriesCutToTheLimit", "PATH=abcdefgh", "Player", 20, "PATH=\nElement=Player"}),
    [](const ::testing::TestParamInfo<ComponentRow>& info) { return std::string(info.param.name); });

}  // namespace

struct TailRow
{
    const char* name;
    std::string component;
    std::string version;
    unsigned codePage;
    std::string tail;
};

void PrintTo(const TailRow& row, std::ostream* os)
{
    *os << row.name;
}

class FormatSectionTailTest : public ::testing::TestWithParam<TailRow> {};

TEST_P(FormatSectionTailTest, GivesThreeLines)
{
    EXPECT_EQ(GetParam().tail, FormatSectionTail(GetParam().component, GetParam().version, GetParam().codePage));
}

INSTANTIATE_TEST_SUITE_P(Rows, FormatSectionTailTest,
    ::testing::Values(
        TailRow{"AllThree", "Player", "2.1.0", 1252, "Element=Player\nVersion=2.1.0\nCodePage=1252"},
        TailRow{"NoVersionInTheRegistry", "Player", "", 932, "Element=Player\nVersion=\nCodePage=932"},
        TailRow{"VersionOfSeveralLinesKeepsItsFirst", "P", "2.1\r\nbeta", 1252, "Element=P\nVersion=2.1\nCodePage=1252"},
        TailRow{"ComponentCarriageReturnStays", "P\r", "2", 65001, "Element=P\r\nVersion=2\nCodePage=65001"}),
    [](const ::testing::TestParamInfo<TailRow>& info) { return std::string(info.param.name); });
