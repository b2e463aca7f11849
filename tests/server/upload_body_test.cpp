// Bodies built the way the reporter builds them (file payloads from one read,
// the texts, the cut to the 20 MiB buffer) and read back by the server's
// parser: what the server stores is what the reporter had.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "report_format/file_payload.h"
#include "report_format/record_format.h"
#include "report_format/upload_body.h"
#include "server/report/report_parser.h"
#include "tests/server/report_factory.h"

namespace {

bool ReadFromString(void* source, char* buffer, uint32_t size, uint32_t* got)
{
    const std::string* bytes = static_cast<const std::string*>(source);
    *got = static_cast<uint32_t>(std::min<size_t>(size, bytes->size()));
    std::memcpy(buffer, bytes->data(), *got);
    return true;
}

std::string PayloadOf(const std::string& file)
{
    std::string copy = file;
    return ReadFilePayload(&copy, static_cast<uint32_t>(file.size()), ReadFromString);
}

const ReportTexts kTexts = {"me@example.org", "I clicked \xE2\x80\x9C" "add\xE2\x80\x9D", "It froze\r\nfor good",
                            "It should scan", "PATH=C:\\windows\nTEMP=C:\\t\nGST_PLUGIN_PATH=%GST_PLUGIN_PATH%"};

::testing::AssertionResult ParsesTo(const std::string& body, Report& report)
{
    std::string reason;
    if (!ParseReportBody(body.data(), body.size(), report, reason))
        return ::testing::AssertionFailure() << "the server refuses the body: " << reason;
    return ::testing::AssertionSuccess();
}

TEST(UploadBody, EveryFieldArrivesAsItWasRead)
{
    std::mt19937 rng(7);
    const std::string dxdiag = MakeLogText(rng, 40000);
    const std::string log = MakeLogText(rng, 300000);
    std::string body;
    ASSERT_TRUE(AssembleReportBody(kTexts, PayloadOf(dxdiag), PayloadOf(log), body, kReportBodySize));

    Report report;
    ASSERT_TRUE(ParsesTo(body, report));
    EXPECT_EQ(kTexts.email, report.email);
    EXPECT_EQ(kTexts.steps, report.description1);
    EXPECT_EQ(kTexts.happened, report.description2);
    EXPECT_EQ(kTexts.shouldHappen, report.description3);
    EXPECT_EQ(kTexts.systemInfo, report.systemInfo);
    EXPECT_EQ("user_info.txt", report.attachment.name);
    EXPECT_EQ(dxdiag, report.attachment.content);
    EXPECT_EQ("brevora_log.txt", report.attachmentLog.name);
    EXPECT_EQ(log, report.attachmentLog.content);
}

// The newest part of data that the server got: true when got is a suffix
// of data that starts on a whole line of base64 (a multiple of 75 bytes).
::testing::AssertionResult IsNewestWholeLines(const std::string& got, const std::string& data)
{
    if (got.size() > data.size() || data.compare(data.size() - got.size(), got.size(), got) != 0)
        return ::testing::AssertionFailure() << "not the end of the file";
    if ((data.size() - got.size()) % 75 != 0)
        return ::testing::AssertionFailure() << "does not start on a line of the whole file's payload";
    return ::testing::AssertionSuccess();
}

TEST(UploadBody, ThirtyMebibyteLogIsCutToItsNewestPartThatFits)
{
    std::mt19937 rng(30);
    const std::string dxdiag = MakeLogText(rng, 60000);
    const std::string log = MakeLogText(rng, 30 * 1024 * 1024);
    std::string body;
    ASSERT_TRUE(AssembleReportBody(kTexts, PayloadOf(dxdiag), PayloadOf(log), body, kReportBodySize));
    const size_t length = body.size();
    EXPECT_LT(length, kReportBodySize);
    EXPECT_GT(length + 101, kReportBodySize - 1) << "one more line of the log would have fitted";

    Report report;
    ASSERT_TRUE(ParsesTo(body, report));
    EXPECT_EQ(dxdiag, report.attachment.content) << "the diagnostic report stays whole";
    EXPECT_EQ(FileState::Content, report.attachmentLog.state);
    EXPECT_GT(report.attachmentLog.content.size(), 14u * 1024 * 1024);
    EXPECT_TRUE(IsNewestWholeLines(report.attachmentLog.content, log));
}

TEST(UploadBody, ThirtyMebibyteDiagnosticReportEmptiesTheLogAndIsCut)
{
    std::mt19937 rng(31);
    const std::string dxdiag = MakeLogText(rng, 30 * 1024 * 1024);
    const std::string log = MakeLogText(rng, 1000);
    std::string body;
    ASSERT_TRUE(AssembleReportBody(kTexts, PayloadOf(dxdiag), PayloadOf(log), body, kReportBodySize));

    Report report;
    ASSERT_TRUE(ParsesTo(body, report));
    EXPECT_TRUE(IsNewestWholeLines(report.attachment.content, dxdiag));
    EXPECT_GT(report.attachment.content.size(), 14u * 1024 * 1024);
    EXPECT_EQ(FileState::Empty, report.attachmentLog.state);
}

}  // namespace
