// CCmdLine in a real process: the child gets the exact command-line bytes
// through CreateProcessA and reports the arguments it split.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/common/cmdline_cases.h"
#include "tests/wine/test_support.h"

namespace {

std::vector<std::string> ParseProbeOutput(const std::string& output, long& count)
{
    std::vector<std::string> args;
    count = -1;
    std::istringstream in(output);
    std::string word;
    while (in >> word) {
        if (word == "count") {
            in >> count;
        } else if (word == "arg") {
            std::string hex;
            // An empty argument prints "arg" and a bare line end.
            if (in.peek() == ' ')
                in.get();
            std::getline(in, hex);
            while (!hex.empty() && (hex.back() == '\r' || hex.back() == '\n'))
                hex.pop_back();
            std::string bytes;
            for (size_t i = 0; i + 1 < hex.size(); i += 2)
                bytes += static_cast<char>(std::strtoul(hex.substr(i, 2).c_str(), NULL, 16));
            args.push_back(bytes);
        }
    }
    return args;
}

class CmdLineProcessTest : public ::testing::TestWithParam<CmdLineCase> {};

TEST_P(CmdLineProcessTest, ChildSeesTheListedArguments)
{
    const CmdLineCase& c = GetParam();
    std::vector<std::string> expected;
    for (const std::string& arg : c.args)
        expected.push_back(DecodeCmdLineNotation(arg));

    std::string output;
    DWORD exitCode = 1;
    ASSERT_TRUE(RunAndCapture(GetBuiltFile(L"cmdline_probe.exe"), DecodeCmdLineNotation(c.line), output, exitCode));
    ASSERT_EQ(0u, exitCode) << output;

    long count = -1;
    std::vector<std::string> got = ParseProbeOutput(output, count);
    EXPECT_EQ(static_cast<long>(expected.size()), count) << output;
    EXPECT_EQ(expected, got) << output;
}

// Every row but the empty command line: CreateProcess puts the program path
// in its place, so only the native split test can cover that row.
std::vector<CmdLineCase> RowsWithACommandLine()
{
    std::vector<CmdLineCase> rows;
    for (const CmdLineCase& c : CmdLineCases()) {
        if (c.line[0] != '\0')
            rows.push_back(c);
    }
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Rows, CmdLineProcessTest, ::testing::ValuesIn(RowsWithACommandLine()),
                         [](const ::testing::TestParamInfo<CmdLineCase>& info) { return std::string(info.param.name); });

}  // namespace
