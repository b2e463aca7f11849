#include "app/split_command_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/common/cmdline_cases.h"

namespace {

class SplitCommandLineTest : public ::testing::TestWithParam<CmdLineCase> {};

TEST_P(SplitCommandLineTest, GivesTheListedArguments)
{
    const CmdLineCase& c = GetParam();
    std::vector<std::string> expected;
    for (const std::string& arg : c.args)
        expected.push_back(DecodeCmdLineNotation(arg));

    // A heap copy of exactly the text's size, so ASan sees any read past its NUL.
    const std::string line = DecodeCmdLineNotation(c.line);
    std::vector<char> copy(line.begin(), line.end());
    copy.push_back('\0');
    const char* const begin = copy.data();
    const char* const end = copy.data() + copy.size();

    std::vector<char*> args;
    SplitCommandLine(copy.data(), args);

    std::vector<std::string> got;
    for (char* arg : args) {
        ASSERT_GE(arg, begin) << "argument points before the copy";
        ASSERT_LT(arg, end) << "argument points past the copy";
        got.emplace_back(arg);
    }
    EXPECT_EQ(expected, got);
}

INSTANTIATE_TEST_SUITE_P(Rows, SplitCommandLineTest, ::testing::ValuesIn(CmdLineCases()),
                         [](const ::testing::TestParamInfo<CmdLineCase>& info) { return std::string(info.param.name); });

TEST(SplitCommandLine, HighBytesAreArgumentBytes)
{
    // 0x85 and 0xA0 are whitespace in some code pages, never here.
    char text[] = "prog \x85\xA0x y";
    std::vector<char*> args;
    SplitCommandLine(text, args);
    ASSERT_EQ(3u, args.size());
    EXPECT_STREQ("\x85\xA0x", args[1]);
}

TEST(SplitCommandLine, EveryWhitespaceByteSeparates)
{
    for (char sep : { ' ', '\t', '\n', '\v', '\f', '\r' }) {
        SCOPED_TRACE(static_cast<int>(sep));
        std::string line = std::string("a") + sep + "b";
        std::vector<char> copy(line.begin(), line.end());
        copy.push_back('\0');
        std::vector<char*> args;
        SplitCommandLine(copy.data(), args);
        ASSERT_EQ(2u, args.size());
        EXPECT_STREQ("a", args[0]);
        EXPECT_STREQ("b", args[1]);
    }
}

TEST(SplitCommandLine, CutsInPlaceWithoutCopying)
{
    char text[] = "\"a b\" c";
    std::vector<char*> args;
    SplitCommandLine(text, args);
    ASSERT_EQ(2u, args.size());
    EXPECT_EQ(text + 1, args[0]);
    EXPECT_EQ(text + 6, args[1]);
    EXPECT_EQ(' ', text[5]) << "the separator after a closing quote stays as it was";
}

}  // namespace
