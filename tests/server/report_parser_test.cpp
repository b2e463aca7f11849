// The server's parser against bodies made by the reporter's encoder, and
// against bodies that break the format.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "server/report/report_body.h"
#include "server/report/report_parser.h"
#include "tests/server/malformed_bodies.h"
#include "tests/server/report_factory.h"

namespace {

::testing::AssertionResult MatchesFile(const ReportFile& file, const std::string& name, const FileInput& input)
{
    if (file.name != name)
        return ::testing::AssertionFailure() << "name \"" << file.name << "\", expected \"" << name << "\"";
    FileState state = FileState::Content;
    std::string content;
    if (input.kind == FileInput::Missing || (input.kind == FileInput::Present && input.bytes.empty())) {
        state = FileState::Placeholder;
    } else if (input.kind == FileInput::Unreadable || input.bytes[0] == '\0') {
        state = FileState::Empty;
    } else {
        content = CutAtFirstNul(input.bytes);
    }
    if (file.state != state)
        return ::testing::AssertionFailure() << name << ": state " << static_cast<int>(file.state) << ", expected "
                                             << static_cast<int>(state);
    if (file.content != content)
        return ::testing::AssertionFailure() << name << ": " << file.content.size() << " bytes, expected "
                                             << content.size();
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult RoundTrips(const ReportInput& input)
{
    const std::string body = EncodeReport(input);
    Report report;
    std::string reason;
    if (!ParseReportBody(body.data(), body.size(), report, reason))
        return ::testing::AssertionFailure() << "refused: " << reason;
    if (report.email != input.email || report.description1 != input.description1 ||
        report.description2 != input.description2 || report.description3 != input.description3 ||
        report.systemInfo != input.systemInfo)
        return ::testing::AssertionFailure() << "a text field differs";
    ::testing::AssertionResult dxdiag = MatchesFile(report.attachment, input.attachmentName, input.dxdiag);
    if (!dxdiag)
        return dxdiag;
    return MatchesFile(report.attachmentLog, input.logName, input.log);
}

TEST(ParseReportBody, ReadsWhatTheEncoderWritesForManyReports)
{
    std::mt19937 rng(2024);
    for (int i = 0; i < 300; ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(RoundTrips(MakeRandomReport(rng, i < 250 ? 400 : 70000)));
    }
}

struct FileCase
{
    const char* name;
    FileInput file;
    size_t randomSize;  // when not 0: random bytes without NUL, made in the test
};

void PrintTo(const FileCase& row, std::ostream* os)
{
    *os << row.name;
}

FileInput MakeKind(FileInput::Kind kind)
{
    FileInput file;
    file.kind = kind;
    return file;
}

std::string EveryByteValue(size_t repeat)
{
    std::string bytes;
    for (size_t r = 0; r < repeat; ++r) {
        for (int i = 1; i < 256; ++i)
            bytes += static_cast<char>(i);
    }
    bytes += '\0';  // the reporter stops here
    bytes += "after the NUL";
    return bytes;
}

class FileRoundTripTest : public ::testing::TestWithParam<FileCase> {};

// Each file case as the diagnostic report and as the log.
TEST_P(FileRoundTripTest, ArrivesAsSent)
{
    std::mt19937 rng(1);
    FileInput file = GetParam().file;
    if (GetParam().randomSize > 0)
        file = MakePresentFile(MakeRandomBytes(rng, GetParam().randomSize, true));
    ReportInput input = MakeRandomReport(rng, 10);
    input.dxdiag = file;
    EXPECT_TRUE(RoundTrips(input)) << "as the diagnostic report";
    input = MakeRandomReport(rng, 10);
    input.log = file;
    EXPECT_TRUE(RoundTrips(input)) << "as the log";
}

INSTANTIATE_TEST_SUITE_P(Rows, FileRoundTripTest,
    ::testing::Values(
        FileCase{"Missing", MakeKind(FileInput::Missing), 0},
        FileCase{"EmptyFile", MakePresentFile(""), 0},
        FileCase{"Unreadable", MakeKind(FileInput::Unreadable), 0},
        FileCase{"OneByte", MakePresentFile("x"), 0},
        FileCase{"ThreeX", MakePresentFile("XXX"), 0},
        FileCase{"ThreeXAndLineFeed", MakePresentFile("XXX\n"), 0},
        FileCase{"Base64OfExactlyHundred", MakePresentFile(std::string(75, 'q')), 0},
        FileCase{"Base64OfHundredAndOne", MakePresentFile(std::string(76, 'q')), 0},
        FileCase{"Base64OfTwoLines", MakePresentFile(std::string(150, 'q')), 0},
        FileCase{"Base64OfTwoLinesAndOne", MakePresentFile(std::string(151, 'q')), 0},
        FileCase{"EveryByteValue", MakePresentFile(EveryByteValue(3)), 0},
        FileCase{"NulFirst", MakePresentFile(std::string("\0abc", 4)), 0},
        FileCase{"NulInMiddle", MakePresentFile(std::string("abc\0def", 7)), 0},
        FileCase{"ThreeMiB", FileInput(), 3 * 1024 * 1024}),
    [](const ::testing::TestParamInfo<FileCase>& info) { return std::string(info.param.name); });

TEST(ParseReportBody, ReadsTextsOfEveryNonNulByte)
{
    ReportInput input;
    for (int i = 1; i < 256; ++i)
        input.description2 += static_cast<char>(i);
    input.email = "a";
    input.description1 = "ab";
    input.description3 = "abc";
    input.systemInfo = input.description2 + input.description2;
    EXPECT_TRUE(RoundTrips(input));
}

struct ComponentCase
{
    const char* name;
    std::string record5;  // the decoded text of description4
    std::string systemInfo;
    std::string component;
    std::string version = std::string();  // with the code page, only after the component's line
    std::string codePage = std::string();
};

void PrintTo(const ComponentCase& row, std::ostream* os)
{
    *os << row.name;
}

class ComponentLineTest : public ::testing::TestWithParam<ComponentCase> {};

TEST_P(ComponentLineTest, ComesOutOfRecordFive)
{
    ReportInput input;
    input.systemInfo = GetParam().record5;
    const std::string body = EncodeReport(input);
    Report report;
    report.component = "left from an earlier parse";
    std::string reason;
    ASSERT_TRUE(ParseReportBody(body.data(), body.size(), report, reason)) << reason;
    EXPECT_EQ(GetParam().systemInfo, report.systemInfo);
    EXPECT_EQ(GetParam().component, report.component);
    EXPECT_EQ(GetParam().version, report.version);
    EXPECT_EQ(GetParam().codePage, report.codePage);
    // Stored without the body, the fields give it back.
    EXPECT_TRUE(RebuildReportBody(report, true) == body || RebuildReportBody(report, false) == body);
}

INSTANTIATE_TEST_SUITE_P(Rows, ComponentLineTest,
    ::testing::Values(
        ComponentCase{"AfterTheEntries", "PATH=a\nTEMP=b\nElement=Player", "PATH=a\nTEMP=b", "Player"},
        ComponentCase{"TrailingCarriageReturnKept", "PATH=a\nElement=Player\r", "PATH=a", "Player\r"},
        ComponentCase{"OnlyTheLine", "Element=Library", "", "Library"},
        ComponentCase{"EmptyName", "PATH=a\nElement=", "PATH=a", ""},
        ComponentCase{"OlderReporterWithoutTheLine", "PATH=a\nTEMP=b", "PATH=a\nTEMP=b", ""},
        ComponentCase{"NotTheLastLine", "Element=Player\nPATH=a", "Element=Player\nPATH=a", ""},
        ComponentCase{"KeyInsideAValue", "PATH=a\nPYTHONPATH=Element=x", "PATH=a\nPYTHONPATH=Element=x", ""},
        ComponentCase{"OnlyTheLastOfTwo", "PATH=a\nElement=A\nElement=B", "PATH=a\nElement=A", "B"},
        ComponentCase{"VersionAndCodePage", "PATH=a\nElement=Player\nVersion=2.1.0\nCodePage=1252", "PATH=a",
                      "Player", "2.1.0", "1252"},
        ComponentCase{"NoVersionInTheRegistry", "Element=Player\nVersion=\nCodePage=932", "", "Player", "", "932"},
        ComponentCase{"VersionWithoutCodePageStays", "PATH=a\nElement=Player\nVersion=2",
                      "PATH=a\nElement=Player\nVersion=2", ""},
        ComponentCase{"OriginWithoutComponentStays", "PATH=a\nVersion=2\nCodePage=1252",
                      "PATH=a\nVersion=2\nCodePage=1252", ""},
        ComponentCase{"OriginLinesOutOfOrderStay", "Element=P\nCodePage=1252\nVersion=2",
                      "Element=P\nCodePage=1252\nVersion=2", ""}),
    [](const ::testing::TestParamInfo<ComponentCase>& info) { return std::string(info.param.name); });

class MalformedBodyTest : public ::testing::TestWithParam<MalformedBody> {};

TEST_P(MalformedBodyTest, IsRefusedWithItsReason)
{
    const MalformedBody& c = GetParam();
    Report report;
    std::string reason;
    ASSERT_FALSE(ParseReportBody(c.body.data(), c.body.size(), report, reason));
    EXPECT_NE(std::string::npos, reason.find(c.reasonPart)) << reason;
    EXPECT_EQ(std::string::npos, reason.find('\n')) << "reason is not one line";
}

INSTANTIATE_TEST_SUITE_P(Rows, MalformedBodyTest, ::testing::ValuesIn(MakeMalformedBodies()),
                         [](const ::testing::TestParamInfo<MalformedBody>& info) { return info.param.name; });

// The body ends in a content payload: a placeholder record cut before its
// last line feed would read as a file holding "XXX", a valid report.
TEST(ParseReportBody, RefusesEveryProperPrefixOfAValidBody)
{
    const std::string body = MakeSmallValidBody();
    Report report;
    std::string reason;
    ASSERT_TRUE(ParseReportBody(body.data(), body.size(), report, reason)) << reason;
    for (size_t length = 0; length < body.size(); ++length) {
        // A copy of exactly the prefix, so ASan sees any read past it.
        const std::string prefix = body.substr(0, length);
        std::vector<char> bytes(prefix.begin(), prefix.end());
        ASSERT_FALSE(ParseReportBody(bytes.data(), bytes.size(), report, reason)) << "prefix of " << length;
    }
}

}  // namespace
