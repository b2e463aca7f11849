// How the reporter lays out the body: wrapping, the file payload rule, the
// records and the cut to the body buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "report_format/record_format.h"
#include "server/report/report_parser.h"
#include "tests/server/report_factory.h"

namespace {

std::string Wrap(const std::string& text)
{
    return WrapBase64Lines(text.data(), text.size());
}

std::string FilePayload(const std::string& bytes)
{
    return MakeFilePayload(bytes.data(), bytes.size());
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', start)) {
        lines.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    lines.push_back(text.substr(start));
    return lines;
}

::testing::AssertionResult IsWrapped(const std::string& wrapped, const std::string& original)
{
    if (original.empty())
        return wrapped.empty() ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "not empty";
    const std::vector<std::string> lines = SplitLines(wrapped);
    std::string joined;
    for (size_t i = 0; i < lines.size(); ++i) {
        const bool last = i + 1 == lines.size();
        if ((!last && lines[i].size() != 100) || (last && (lines[i].empty() || lines[i].size() > 100)))
            return ::testing::AssertionFailure() << "line " << i + 1 << " has " << lines[i].size() << " characters";
        joined += lines[i];
    }
    if (joined != original)
        return ::testing::AssertionFailure() << "lines do not join to the original";
    return ::testing::AssertionSuccess();
}

TEST(WrapBase64Lines, MakesLinesOfExactlyHundred)
{
    for (size_t length : {0, 1, 4, 99, 100, 101, 199, 200, 201, 1000, 1001, 123457}) {
        SCOPED_TRACE(length);
        std::string text(length, 'A');
        for (size_t i = 0; i < length; ++i)
            text[i] = static_cast<char>('A' + i % 26);
        const std::string wrapped = Wrap(text);
        EXPECT_EQ(GetWrappedLength(length), wrapped.size());
        EXPECT_TRUE(IsWrapped(wrapped, text));
    }
}

struct FilePayloadRow
{
    const char* name;
    std::string bytes;
    std::string payload;
};

void PrintTo(const FilePayloadRow& row, std::ostream* os)
{
    *os << row.name;
}

class MakeFilePayloadTest : public ::testing::TestWithParam<FilePayloadRow> {};

TEST_P(MakeFilePayloadTest, GivesThePayload)
{
    EXPECT_EQ(GetParam().payload, FilePayload(GetParam().bytes));
}

std::string Repeat(char c, size_t n)
{
    return std::string(n, c);
}

INSTANTIATE_TEST_SUITE_P(Rows, MakeFilePayloadTest,
    ::testing::Values(
        FilePayloadRow{"EmptyGivesPlaceholder", "", "WFhY\n"},
        FilePayloadRow{"ThreeX", "XXX", "WFhY"},
        FilePayloadRow{"CutAtFirstNul", std::string("ab\0cd\0", 6), "YWI="},
        FilePayloadRow{"LeadingNulGivesNothing", std::string("\0abc", 4), ""},
        // 75 bytes: exactly 100 characters, no line feed.
        FilePayloadRow{"SeventyFiveBytes", Repeat('\xFF', 75), Repeat('/', 100)},
        // 76 bytes: 104 characters, sent as 100, a line feed and 4.
        FilePayloadRow{"SeventySixBytes", Repeat('\xFF', 76), Repeat('/', 100) + "\n/w=="},
        FilePayloadRow{"SeventyEightBytes", Repeat('\xFF', 78), Repeat('/', 100) + "\n////"},
        FilePayloadRow{"HundredFiftyBytes", Repeat('\xFF', 150), Repeat('/', 100) + "\n" + Repeat('/', 100)}),
    [](const ::testing::TestParamInfo<FilePayloadRow>& info) { return std::string(info.param.name); });

TEST(AppendReportRecords, LaysOutTheNineRecords)
{
    const std::string payloads[REPORT_RECORD_COUNT] = {
        "", "QQ==", "Qg==", "Qw==", "RA==", "dXNlcl9pbmZvLnR4dA==", "WFhY\n", "YnJldm9yYV9sb2cudHh0", "",
    };
    std::string body;
    ASSERT_TRUE(AppendReportRecords(body, 512, payloads));
    EXPECT_EQ("email \n\n"
                 "description1 QQ==\n\n"
                 "description2 Qg==\n\n"
                 "description3 Qw==\n\n"
                 "description4 RA==\n\n"
                 "attachment_name dXNlcl9pbmZvLnR4dA==\n\n"
                 "attachment WFhY\n\n\n"
                 "attachment_log_name YnJldm9yYV9sb2cudHh0\n\n"
                 "attachment_log \n\n",
                 body);
}

TEST(AppendRecord, NeedsRoomForTheTerminator)
{
    // "email " + "QUJD" + "\n\n" is 12 characters: 13 bytes with the NUL.
    std::string exact;
    EXPECT_TRUE(AppendRecord(exact, 13, RECORD_EMAIL, "QUJD"));
    EXPECT_EQ("email QUJD\n\n", exact);

    std::string short1;
    EXPECT_FALSE(AppendRecord(short1, 12, RECORD_EMAIL, "QUJD"));
    EXPECT_EQ("", short1);

    std::string appended;
    ASSERT_TRUE(AppendRecord(appended, 64, RECORD_EMAIL, ""));
    ASSERT_TRUE(AppendRecord(appended, 64, RECORD_DESCRIPTION1, "QQ=="));
    EXPECT_EQ("email \n\ndescription1 QQ==\n\n", appended);
}

TEST(CutToNewestLines, KeepsTheMostWholeLinesThatFit)
{
    // Lines of 100, 100, 100 and 40 characters: 343 in all.
    const std::string payload = Wrap(std::string(340, 'A'));
    ASSERT_EQ(343u, payload.size());
    struct Row
    {
        size_t room;
        size_t kept;
    };
    for (Row row : {Row{343, 343}, Row{342, 242}, Row{242, 242}, Row{241, 141}, Row{141, 141}, Row{140, 40},
                    Row{40, 40}, Row{39, 0}, Row{0, 0}}) {
        SCOPED_TRACE(row.room);
        const char* kept = CutToNewestLines(payload.c_str(), row.room);
        EXPECT_EQ(row.kept, std::strlen(kept));
        EXPECT_TRUE(*kept == '\0' || kept == payload.c_str() || kept[-1] == '\n') << "starts inside a line";
    }
}

// A report larger than the body buffer keeps the newest part of its log.
TEST(AppendReportRecords, CutsTheLogToItsNewestLinesToFit)
{
    std::mt19937 rng(5);
    ReportInput input = MakeRandomReport(rng, 0);
    input.dxdiag = MakePresentFile(MakeLogText(rng, 3000));
    input.log = MakePresentFile(MakeLogText(rng, 20000));
    const size_t bodySize = 16 * 1024;

    const std::string body = EncodeReport(input, bodySize);
    EXPECT_LT(body.size(), bodySize);
    EXPECT_GT(body.size(), bodySize - 102) << "more than a line left unused";

    Report report;
    std::string reason;
    ASSERT_TRUE(ParseReportBody(body.data(), body.size(), report, reason)) << reason;
    EXPECT_EQ(input.dxdiag.bytes, report.attachment.content);
    const std::string& log = input.log.bytes;
    const std::string& kept = report.attachmentLog.content;
    ASSERT_LT(kept.size(), log.size());
    EXPECT_EQ(0u, (log.size() - kept.size()) % 75) << "not cut at a line of the payload";
    EXPECT_EQ(log.substr(log.size() - kept.size()), kept);
}

TEST(AppendReportRecords, CutsTheDiagnosticReportWhenTheLogIsNotEnough)
{
    std::mt19937 rng(6);
    ReportInput input = MakeRandomReport(rng, 0);
    input.dxdiag = MakePresentFile(MakeLogText(rng, 30000));
    input.log = MakePresentFile(MakeLogText(rng, 30000));
    const std::string body = EncodeReport(input, 16 * 1024);

    Report report;
    std::string reason;
    ASSERT_TRUE(ParseReportBody(body.data(), body.size(), report, reason)) << reason;
    EXPECT_EQ(FileState::Empty, report.attachmentLog.state);
    const std::string& dxdiag = input.dxdiag.bytes;
    const std::string& kept = report.attachment.content;
    ASSERT_GT(kept.size(), 0u);
    EXPECT_EQ(dxdiag.substr(dxdiag.size() - kept.size()), kept);
}

TEST(AppendReportRecords, RefusesWhenTheTextsAloneDoNotFit)
{
    const std::string payloads[REPORT_RECORD_COUNT] = {"", "QUJD", "", "", "", "", "WFhY\n", "", "WFhY\n"};
    // Keys, "QUJD" and nine "\n\n" take 142 characters; the placeholders 10 more.
    std::string body;
    EXPECT_FALSE(AppendReportRecords(body, 142, payloads));
    EXPECT_EQ("", body);

    std::string enough;
    ASSERT_TRUE(AppendReportRecords(enough, 143, payloads));
    EXPECT_EQ(142u, enough.size());
    EXPECT_NE(std::string::npos, enough.find("attachment \n\nattachment_log_name")) << "file payloads not emptied";
}

}  // namespace
