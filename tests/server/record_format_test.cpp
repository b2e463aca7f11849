// How the reporter lays out the body: wrapping, the file payload rule, the
// records and the cut to the body buffer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "report_format/record_format.h"
#include "server/report_parser.h"
#include "tests/server/report_factory.h"

namespace {

struct FreeDeleter
{
    void operator()(char* p) const { std::free(p); }
};
typedef std::unique_ptr<char, FreeDeleter> Text;

std::string Wrap(const std::string& text)
{
    Text wrapped(WrapBase64Lines(text.data(), text.size()));
    return wrapped.get();
}

std::string FilePayload(const std::string& bytes)
{
    Text payload(MakeFilePayload(bytes.data(), bytes.size()));
    return payload.get();
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
    const char* const payloads[REPORT_RECORD_COUNT] = {
        "", "QQ==", "Qg==", "Qw==", "RA==", "dXNlcl9pbmZvLnR4dA==", "WFhY\n", "YnJldm9yYV9sb2cudHh0", "",
    };
    char body[512] = {};
    ASSERT_TRUE(AppendReportRecords(body, sizeof body, payloads));
    EXPECT_STREQ("email \n\n"
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
    std::vector<char> exact(13, '\0');
    EXPECT_TRUE(AppendRecord(exact.data(), exact.size(), RECORD_EMAIL, "QUJD"));
    EXPECT_STREQ("email QUJD\n\n", exact.data());

    std::vector<char> short1(12, '\0');
    EXPECT_FALSE(AppendRecord(short1.data(), short1.size(), RECORD_EMAIL, "QUJD"));
    EXPECT_STREQ("", short1.data());

    std::vector<char> appended(64, '\0');
    ASSERT_TRUE(AppendRecord(appended.data(), appended.size(), RECORD_EMAIL, ""));
    ASSERT_TRUE(AppendRecord(appended.data(), appended.size(), RECORD_DESCRIPTION1, "QQ=="));
    EXPECT_STREQ("email \n\ndescription1 QQ==\n\n", appended.data());
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
    const char* const payloads[REPORT_RECORD_COUNT] = {"", "QUJD", "", "", "", "", "WFhY\n", "", "WFhY\n"};
    // Keys, "QUJD" and nine "\n\n" take 142 characters; the placeholders 10 more.
    char body[142] = {};
    EXPECT_FALSE(AppendReportRecords(body, sizeof body, payloads));
    EXPECT_STREQ("", body);

    char enough[143] = {};
    ASSERT_TRUE(AppendReportRecords(enough, sizeof enough, payloads));
    EXPECT_EQ(142u, std::strlen(enough));
    EXPECT_NE(nullptr, std::strstr(enough, "attachment \n\nattachment_log_name")) << "file payloads not emptied";
}

}  // namespace
