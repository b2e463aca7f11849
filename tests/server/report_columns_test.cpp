// A report packed into the stored columns and back: compressed where it
// pays, the raw body kept only where the fields do not rebuild it.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "report_format/section_text.h"
#include "server/report/report_parser.h"
#include "server/store/report_columns.h"
#include "tests/server/report_factory.h"

namespace {

struct PackingRow
{
    const char* name;
    ReportInput input;
    std::string rawBody;  // "" for the body the reporter sends
    int64_t packing;      // the columns expected as zstd frames
};

int64_t Bit(ReportColumn column)
{
    return int64_t{1} << column;
}

TEST(ReportColumns, PacksAndUnpacksEveryField)
{
    std::mt19937 rng(15);
    std::vector<PackingRow> rows(4);
    rows[0].name = "RealisticLongLog";
    rows[0].input = MakeRealisticReport(rng, 300 * 1024);
    rows[0].input.description2 = MakeLogText(rng, 2000);
    AppendComponentLine(rows[0].input.systemInfo, "Player", 4096);  // as the reporter sends it now
    rows[0].packing = Bit(COLUMN_DESCRIPTION2) | Bit(COLUMN_ATTACHMENT) | Bit(COLUMN_ATTACHMENT_LOG);
    rows[1].name = "ShortTextsAndNoFiles";
    rows[1].input.description1 = "short";
    rows[1].input.log.kind = FileInput::Unreadable;
    rows[1].packing = kPackingWithoutComponentLine;  // as older reporters sent it
    rows[2].name = "RandomBytesDoNotShrink";
    rows[2].input.dxdiag = MakePresentFile(MakeRandomBytes(rng, 100000, true));
    rows[2].input.systemInfo = MakeLogText(rng, 300);
    rows[2].packing = Bit(COLUMN_SYSTEM_INFO) | kPackingWithoutComponentLine;
    rows[3].name = "BodyTheFieldsDoNotRebuild";
    rows[3].input = MakeRealisticReport(rng, 1000);
    rows[3].rawBody = "not the encoding of these fields " + MakeLogText(rng, 1000);
    rows[3].packing = Bit(COLUMN_ATTACHMENT) | Bit(COLUMN_ATTACHMENT_LOG) | Bit(COLUMN_RAW_BODY);

    for (PackingRow& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string body = EncodeReport(row.input);
        Report report;
        std::string reason;
        ASSERT_TRUE(ParseReportBody(body.data(), body.size(), report, reason)) << reason;
        const std::string rawBody = row.rawBody.empty() ? body : row.rawBody;
        ReportOrigin origin;
        origin.receivedUtc = "2024-05-01T12:34:56.789Z";
        origin.peer = "[::1]:50312";
        origin.userAgent = "Brevora Bug Reporter";

        PackedRow packed;
        PackReport(origin, report, rawBody, packed);
        EXPECT_EQ(row.packing, packed.packing);
        EXPECT_EQ(row.rawBody.empty(), packed.values[COLUMN_RAW_BODY].empty()) << "raw body kept or left out";
        size_t packedSize = 0;
        for (const std::string& value : packed.values)
            packedSize += value.size();
        if (row.packing & Bit(COLUMN_ATTACHMENT_LOG)) {
            EXPECT_LT(packedSize * 4, body.size()) << "a log-like report takes less than a quarter of its body";
        }

        StoredReport stored;
        std::string error;
        ASSERT_TRUE(UnpackReport(packed, stored, error)) << error;
        EXPECT_EQ(rawBody, stored.rawBody);
        EXPECT_EQ(body, EncodeReport(row.input)) << "the input changed";
        const Report& r = stored.report;
        EXPECT_EQ(report.email, r.email);
        EXPECT_EQ(report.description1, r.description1);
        EXPECT_EQ(report.description2, r.description2);
        EXPECT_EQ(report.description3, r.description3);
        EXPECT_EQ(report.systemInfo, r.systemInfo);
        EXPECT_EQ(report.component, r.component);
        EXPECT_EQ(report.attachment.name, r.attachment.name);
        EXPECT_TRUE(report.attachment.content == r.attachment.content);
        EXPECT_EQ(report.attachment.state, r.attachment.state);
        EXPECT_EQ(report.attachmentLog.name, r.attachmentLog.name);
        EXPECT_TRUE(report.attachmentLog.content == r.attachmentLog.content);
        EXPECT_EQ(report.attachmentLog.state, r.attachmentLog.state);
        EXPECT_EQ(origin.peer, stored.origin.peer);
        EXPECT_EQ(origin.receivedUtc, stored.origin.receivedUtc);
        EXPECT_EQ(origin.userAgent, stored.origin.userAgent);
    }
}

// A crash body rebuilt from its fields: the dump (NUL bytes and all) and the
// log compressed, nothing of the body kept.
TEST(ReportColumns, PacksACrashReportWithoutItsBody)
{
    std::mt19937 rng(16);
    const std::string dump = MakeRandomBytes(rng, 20000, false) + std::string(30000, '\0');
    const std::string body = EncodeCrashReport("it froze\r\n", dump, MakeLogText(rng, 5000), "[video]\n");
    CrashReport report;
    std::string reason;
    ASSERT_TRUE(ParseCrashBody(body.data(), body.size(), report, reason)) << reason;

    PackedRow packed;
    PackCrashReport(ReportOrigin(), report, body, packed);
    EXPECT_EQ(Bit(static_cast<ReportColumn>(CRASH_COLUMN_DUMP)) | Bit(static_cast<ReportColumn>(CRASH_COLUMN_LOG)),
              packed.packing);
    EXPECT_EQ("", packed.values[CRASH_COLUMN_RAW_BODY]);
    StoredCrashReport stored;
    std::string error;
    ASSERT_TRUE(UnpackCrashReport(packed, stored, error)) << error;
    EXPECT_TRUE(body == stored.rawBody);
    EXPECT_TRUE(dump == stored.report.dump.content);
    EXPECT_EQ("it froze\r\n", stored.report.comment);
    EXPECT_EQ(FileState::Content, stored.report.conf.state);
}

}  // namespace
