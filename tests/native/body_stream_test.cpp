// The streamed body against the body assembled in memory from the same
// files: byte for byte, its announced length, its pieces, and how much of
// each file is read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "report_format/body_stream.h"
#include "report_format/file_payload.h"
#include "report_format/upload_body.h"

namespace {

struct FakeFile
{
    bool missing = false;
    std::string bytes;
    bool readFails = false;
    uint64_t bytesRead = 0;
};

FakeFile Missing()
{
    FakeFile file;
    file.missing = true;
    return file;
}

FakeFile Holding(std::string bytes, bool readFails = false)
{
    FakeFile file;
    file.bytes = std::move(bytes);
    file.readFails = readFails;
    return file;
}

bool ReadAt(void* handle, uint64_t offset, char* buffer, uint32_t size, uint32_t* got)
{
    FakeFile* file = static_cast<FakeFile*>(handle);
    if (file->readFails)
        return false;
    const uint64_t n = offset >= file->bytes.size() ? 0 : std::min<uint64_t>(size, file->bytes.size() - offset);
    std::memcpy(buffer, file->bytes.data() + offset, static_cast<size_t>(n));
    *got = static_cast<uint32_t>(n);
    file->bytesRead += n;
    return true;
}

FileSource SourceOf(FakeFile& file)
{
    return FileSource{ &file, file.missing ? kMissingFileSize : file.bytes.size(), ReadAt };
}

bool ReadWhole(void* handle, char* buffer, uint32_t size, uint32_t* got)
{
    return ReadAt(handle, 0, buffer, size, got);
}

// Today's payload: the file read whole with one read.
std::string WholePayload(FakeFile file)
{
    const uint32_t size = file.missing ? kNoFileSize : static_cast<uint32_t>(file.bytes.size());
    return ReadFilePayload(&file, size, ReadWhole);
}

struct Collected
{
    std::string body;
    size_t largestPiece = 0;
    size_t refuseAfter = SIZE_MAX;  // pieces taken before the sink says no
    size_t pieces = 0;
};

bool Collect(void* sink, const char* bytes, size_t length)
{
    Collected* c = static_cast<Collected*>(sink);
    if (c->pieces == c->refuseAfter)
        return false;
    ++c->pieces;
    c->body.append(bytes, length);
    c->largestPiece = std::max(c->largestPiece, length);
    return true;
}

// Log-like text without NUL bytes.
std::string MakeText(size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string text(size, ' ');
    for (size_t i = 0; i < size; ++i)
        text[i] = (i % 61 == 60) ? '\n' : static_cast<char>(33 + rng() % 94);
    return text;
}

const ReportTexts kTexts = { "me@example.org", "I clicked add", "It froze", "It should scan", "PATH=a\nTEMP=b" };
const ReportTexts kNoContact = { "", "a", "b", "c", "" };

const int kExact = 1000000;  // bodySize: the body exactly, plus slack

struct StreamRow
{
    const char* name;
    ReportTexts texts;
    FakeFile dxdiag;
    FakeFile log;
    size_t bodySize;  // kReportBodySize, a size, or kExact + slack (slack -500..500)
    std::string logAsAssembled;  // when set: the in-memory body is made of these log bytes
};

void PrintTo(const StreamRow& row, std::ostream* os)
{
    *os << row.name;
}

class StreamedBody : public ::testing::TestWithParam<StreamRow> {};

TEST_P(StreamedBody, EqualsTheAssembledBody)
{
    const StreamRow& row = GetParam();
    FakeFile dxdiag = row.dxdiag;
    FakeFile log = row.log;
    FakeFile logAsAssembled = row.logAsAssembled.empty() ? log : Holding(row.logAsAssembled);

    size_t bodySize = row.bodySize;
    std::string assembled;
    if (bodySize >= kExact - 500 && bodySize <= kExact + 500) {
        ASSERT_TRUE(AssembleReportBody(row.texts, WholePayload(dxdiag), WholePayload(logAsAssembled), assembled));
        bodySize = assembled.size() + 1 + (row.bodySize - kExact);
    }
    const bool fits = AssembleReportBody(row.texts, WholePayload(dxdiag), WholePayload(logAsAssembled), assembled,
                                         bodySize);

    ReportBodyPlan plan;
    ASSERT_EQ(fits, PlanReportBody(row.texts, SourceOf(dxdiag), SourceOf(log), plan, bodySize));
    if (!fits)
        return;
    Collected streamed;
    ASSERT_TRUE(WriteReportBody(plan, SourceOf(dxdiag), SourceOf(log), Collect, &streamed));
    EXPECT_EQ(assembled, streamed.body);
    EXPECT_EQ(streamed.body.size(), GetReportBodyLength(plan));
    EXPECT_LE(streamed.largestPiece, kBodyPieceSize);
    // Read twice at most (the NUL check, then the send), and only the part that fits.
    EXPECT_LE(log.bytesRead, 2 * std::min<uint64_t>(log.bytes.size(), bodySize));
    EXPECT_LE(dxdiag.bytesRead, 2 * std::min<uint64_t>(dxdiag.bytes.size(), bodySize));
}

INSTANTIATE_TEST_SUITE_P(Rows, StreamedBody, ::testing::Values(
    StreamRow{ "BothMissing", kTexts, Missing(), Missing(), kReportBodySize, "" },
    StreamRow{ "BothEmpty", kNoContact, Holding(""), Holding(""), kReportBodySize, "" },
    StreamRow{ "NulInsideEndsTheFile", kTexts, Holding(std::string("fo\0obar", 7)), Holding("log\n"), kReportBodySize, "" },
    StreamRow{ "LeadingNulGivesNothing", kTexts, Missing(), Holding(std::string("\0foo", 4)), kReportBodySize, "" },
    StreamRow{ "FailedReadGivesNothing", kTexts, Holding("dx", true), Holding("log", true), kReportBodySize, "" },
    StreamRow{ "SeventyFourBytes", kTexts, Missing(), Holding(std::string(74, '\xFF')), kReportBodySize, "" },
    StreamRow{ "SeventyFiveBytes", kTexts, Missing(), Holding(std::string(75, '\xFF')), kReportBodySize, "" },
    StreamRow{ "SeventySixBytes", kTexts, Missing(), Holding(std::string(76, '\xFF')), kReportBodySize, "" },
    StreamRow{ "HundredFiftyOneBytes", kTexts, Holding(MakeText(151, 1)), Holding(MakeText(150, 2)), kReportBodySize, "" },
    // Reads are 600 KiB: the log takes three, the last one short.
    StreamRow{ "AcrossManyReads", kTexts, Holding(MakeText(40000, 3)), Holding(MakeText(1300001, 4)), kReportBodySize, "" },
    StreamRow{ "ExactFit", kTexts, Holding(MakeText(3000, 5)), Holding(MakeText(7777, 6)), kExact, "" },
    StreamRow{ "OneByteShortDropsALine", kTexts, Holding(MakeText(3000, 5)), Holding(MakeText(7777, 6)), kExact - 1, "" },
    StreamRow{ "OnlyTheLastLineFits", kTexts, Missing(), Holding(MakeText(150, 6)), kExact - 101, "" },
    StreamRow{ "NotEvenTheLastLineFits", kTexts, Missing(), Holding(MakeText(150, 6)), kExact - 102, "" },
    StreamRow{ "LogCutToItsNewestLines", kTexts, Holding(MakeText(3000, 7)), Holding(MakeText(400000, 8)), 16384, "" },
    StreamRow{ "LogEmptiedAndDiagnosticCut", kTexts, Holding(MakeText(30000, 9)), Holding(MakeText(30000, 10)), 16384, "" },
    StreamRow{ "PlaceholderCutAway", kTexts, Missing(), Missing(), kExact - 1, "" },
    StreamRow{ "TextsAloneTooLarge", kTexts, Missing(), Missing(), 64, "" },
    // A zero-filled start (as a crash leaves a log) ends nothing that is sent.
    StreamRow{ "ZeroFilledStartOfACutLog", kTexts, Missing(),
               Holding(std::string(300000, '\0') + MakeText(100000, 11)), 16384,
               std::string(300000, 'z') + MakeText(100000, 11) }),
    [](const ::testing::TestParamInfo<StreamRow>& info) { return std::string(info.param.name); });

// A log whose body takes four pieces.
const size_t kStopLogSize = 3 * kBodyPieceSize;

struct StopRow
{
    const char* name;
    size_t refuseAfter;
    size_t shrinkLogTo;  // after the plan, before the send
};

void PrintTo(const StopRow& row, std::ostream* os)
{
    *os << row.name;
}

class StreamedBodyStop : public ::testing::TestWithParam<StopRow> {};

TEST_P(StreamedBodyStop, EndsAtOnce)
{
    FakeFile dxdiag = Missing();
    FakeFile log = Holding(MakeText(kStopLogSize, 12));
    ReportBodyPlan plan;
    ASSERT_TRUE(PlanReportBody(kTexts, SourceOf(dxdiag), SourceOf(log), plan));
    log.bytes.resize(GetParam().shrinkLogTo);
    Collected streamed;
    streamed.refuseAfter = GetParam().refuseAfter;
    EXPECT_FALSE(WriteReportBody(plan, SourceOf(dxdiag), SourceOf(log), Collect, &streamed));
    EXPECT_LT(streamed.body.size(), GetReportBodyLength(plan));
    EXPECT_EQ(std::min(streamed.refuseAfter, streamed.pieces), streamed.pieces) << "a piece after the refusal";
}

INSTANTIATE_TEST_SUITE_P(Rows, StreamedBodyStop, ::testing::Values(
    StopRow{ "SinkRefusesTheThirdPiece", 2, kStopLogSize },
    StopRow{ "FileShrankSincePlanned", SIZE_MAX, 300000 }),
    [](const ::testing::TestParamInfo<StopRow>& info) { return std::string(info.param.name); });

}  // namespace
