// The application log's path from the user's profile directory, and the
// fallback "." when there is no directory or the path would not fit.
#include <gtest/gtest.h>

#include <string>

#include "bugreport/app_log_path.h"

namespace {

// The longest directory that still fits: 520 units with the terminator and
// the 21 characters of "\.brevora\brevora.log".
const size_t kLongestDir = kAppLogPathSize - 1 - 21;

struct PathRow
{
    const char* name;
    std::wstring dir;
    bool nullDir;
    std::wstring path;
};

void PrintTo(const PathRow& row, std::ostream* os)
{
    *os << row.name;
}

class ComposeAppLogPathTest : public ::testing::TestWithParam<PathRow> {};

TEST_P(ComposeAppLogPathTest, GivesThePath)
{
    const PathRow& row = GetParam();
    // Guard units after the buffer catch a write past its end.
    std::wstring buffer(kAppLogPathSize + 8, L'#');
    ComposeAppLogPath(row.nullDir ? nullptr : row.dir.c_str(), &buffer[0], kAppLogPathSize);
    EXPECT_EQ(row.path, std::wstring(buffer.c_str()));
    EXPECT_EQ(std::wstring(8, L'#'), buffer.substr(kAppLogPathSize));
}

INSTANTIATE_TEST_SUITE_P(Rows, ComposeAppLogPathTest,
    ::testing::Values(
        PathRow{"UsersFolder", L"C:\\users\\anna", false, L"C:\\users\\anna\\.brevora\\brevora.log"},
        PathRow{"NonAsciiName", L"C:\\users\\\x0410\x043d\x043d\x0430", false,
                L"C:\\users\\\x0410\x043d\x043d\x0430\\.brevora\\brevora.log"},
        PathRow{"EmptyDirectory", L"", false, L"."},
        PathRow{"NoDirectory", L"", true, L"."},
        PathRow{"LongestThatFits", std::wstring(kLongestDir, L'd'), false,
                std::wstring(kLongestDir, L'd') + L"\\.brevora\\brevora.log"},
        PathRow{"OneTooLong", std::wstring(kLongestDir + 1, L'd'), false, L"."},
        PathRow{"FarTooLong", std::wstring(32000, L'd'), false, L"."}),
    [](const ::testing::TestParamInfo<PathRow>& info) { return std::string(info.param.name); });

}  // namespace
