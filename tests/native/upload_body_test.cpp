// The upload body from the texts and the two file payloads: record order,
// key literals, "\n\n" after every record, empty payloads, the placeholder,
// and the cut to the body buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "report_format/record_format.h"
#include "report_format/upload_body.h"

namespace {

std::string Assemble(const ReportTexts& texts, const char* dxdiag, const char* log, size_t bodySize = kReportBodySize)
{
    std::string body;
    if (!AssembleReportBody(texts, dxdiag, log, body, bodySize))
        return "<refused>";
    return body;
}

const ReportTexts kTypedReport = {"me@example.org", "I clicked add", "It froze", "It should scan", "PATH=a\nTEMP=b"};

// Payloads from an independent encoder.
const std::string kTypedBody =
    "email bWVAZXhhbXBsZS5vcmc=\n\n"
    "description1 SSBjbGlja2VkIGFkZA==\n\n"
    "description2 SXQgZnJvemU=\n\n"
    "description3 SXQgc2hvdWxkIHNjYW4=\n\n"
    "description4 UEFUSD1hClRFTVA9Yg==\n\n"
    "attachment_name dXNlcl9pbmZvLnR4dA==\n\n"
    "attachment WFhY\n\n\n"
    "attachment_log_name YnJldm9yYV9sb2cudHh0\n\n"
    "attachment_log bG9nIGxpbmUK\n\n";

TEST(AssembleReportBody, NineRecordsInOrderEachEndedByTwoLineFeeds)
{
    EXPECT_EQ(kTypedBody, Assemble(kTypedReport, kEmptyFilePayload, "bG9nIGxpbmUK"));
}

struct BodyRow
{
    const char* name;
    ReportTexts texts;
    const char* dxdiag;
    const char* log;
    std::string expectedPart;  // must occur in the body
};

void PrintTo(const BodyRow& row, std::ostream* os)
{
    *os << row.name;
}

class AssembleReportBodyEdge : public ::testing::TestWithParam<BodyRow> {};

TEST_P(AssembleReportBodyEdge, ContainsThePart)
{
    const BodyRow& row = GetParam();
    const std::string body = Assemble(row.texts, row.dxdiag, row.log);
    EXPECT_NE(std::string::npos, body.find(row.expectedPart)) << body;
    ASSERT_GE(body.size(), 2u);
    EXPECT_EQ("\n\n", body.substr(body.size() - 2)) << "the last record ends with two line feeds too";
}

const ReportTexts kNoContact = {"", "a", "b", "c", "PATH=x"};

INSTANTIATE_TEST_SUITE_P(Rows, AssembleReportBodyEdge,
    ::testing::Values(
        // Contact not allowed: the e-mail record has no payload at all.
        BodyRow{"NoContactGivesAnEmptyFirstRecord", kNoContact, "WFhY\n", "WFhY\n", "email \n\ndescription1 YQ==\n\n"},
        BodyRow{"MissingDiagnosticFileGivesPlaceholder", kNoContact, "WFhY\n", "", "attachment WFhY\n\n\nattachment_log_name "},
        BodyRow{"UnreadableLogGivesEmptyLastRecord", kNoContact, "WFhY\n", "", "attachment_log \n\n"},
        BodyRow{"EmptySystemInformation", ReportTexts{"", "a", "b", "c", ""}, "WFhY\n", "", "description4 \n\n"},
        BodyRow{"WrappedFileKeepsItsLines", kNoContact, "WFhY\n", "AAAA\nBBBB", "attachment_log AAAA\nBBBB\n\n"}),
    [](const ::testing::TestParamInfo<BodyRow>& info) { return std::string(info.param.name); });

// Wrapped payload of lines line0, line1, ... of 100 characters each.
std::string MakeWrappedLines(size_t count)
{
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0)
            text += '\n';
        std::string line = "L" + std::to_string(i);
        line.resize(100, 'A');
        text += line;
    }
    return text;
}

TEST(AssembleReportBody, CutsTheLogToItsNewestLinesWhenTheBodyIsFull)
{
    const std::string log = MakeWrappedLines(50);
    const size_t whole = Assemble(kNoContact, "WFhY\n", log.c_str()).size();
    // Room for the body less 10 lines of the log (and its terminator).
    const size_t bodySize = whole + 1 - 10 * 101;
    const std::string body = Assemble(kNoContact, "WFhY\n", log.c_str(), bodySize);
    ASSERT_NE("<refused>", body);
    EXPECT_LT(body.size(), bodySize);
    const std::string kept = log.substr(10 * 101);
    EXPECT_EQ(0u, kept.find("L10"));
    EXPECT_EQ("attachment_log " + kept + "\n\n", body.substr(body.find("attachment_log ")));
}

TEST(AssembleReportBody, TheLargestTextsStillLeaveRoomForTheRecords)
{
    // Each edit gives at most 2,097,151 bytes, and so does the section: the
    // texts alone always fit, so only the files are ever cut.
    const std::string big(2097151, 'x');
    const ReportTexts texts = {big.c_str(), big.c_str(), big.c_str(), big.c_str(), big.c_str()};
    const std::string log = MakeWrappedLines(80000);  // 8 MB of payload
    const std::string body = Assemble(texts, "WFhY\n", log.c_str());
    ASSERT_NE("<refused>", body);
    EXPECT_LT(body.size(), kReportBodySize);
    EXPECT_EQ("\n\n", body.substr(body.size() - 2));
}

TEST(AssembleReportBody, RefusesABodyTooSmallForTheTexts)
{
    EXPECT_EQ("<refused>", Assemble(kTypedReport, "WFhY\n", "", 64));
}

}  // namespace
