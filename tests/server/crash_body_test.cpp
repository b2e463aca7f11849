// The crash body as the reporter writes it, read back by the server's
// parser: every file whole and byte for byte while the body fits, and the
// cuts when it does not (the log's newest lines first, then the
// configuration's; the dump whole or not at all).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "report_format/crash_body.h"
#include "server/report/report_body.h"
#include "server/report/report_parser.h"

namespace {

// A crash file in memory; absent is a missing file.
struct MemoryFile
{
    bool present = false;
    std::string bytes;
    size_t readLimit = std::string::npos;  // reads beyond come short, as for a file cut meanwhile
};

MemoryFile Present(const std::string& bytes)
{
    MemoryFile file;
    file.present = true;
    file.bytes = bytes;
    return file;
}

bool ReadMemory(void* handle, uint64_t offset, char* buffer, uint32_t size, uint32_t* got)
{
    const MemoryFile* file = static_cast<const MemoryFile*>(handle);
    const size_t end = file->bytes.size() < file->readLimit ? file->bytes.size() : file->readLimit;
    *got = offset >= end ? 0 : static_cast<uint32_t>(end - offset < size ? end - offset : size);
    std::memcpy(buffer, file->bytes.data() + offset, *got);
    return true;
}

bool AppendToString(void* sink, const char* bytes, size_t length)
{
    static_cast<std::string*>(sink)->append(bytes, length);
    return true;
}

// version: null for a body without the version record.
bool EncodeCrash(const std::string& comment, const std::string* version, MemoryFile (&files)[CRASH_FILE_COUNT],
                 uint64_t limit, std::string& body, CrashBodyPlan& plan)
{
    CrashFileSource sources[CRASH_FILE_COUNT];
    for (int i = 0; i < CRASH_FILE_COUNT; ++i)
        sources[i] = {files[i].present ? &files[i] : nullptr, files[i].bytes.size()};
    body.clear();
    const bool planned = version != nullptr ? PlanCrashBody(comment, *version, sources, ReadMemory, limit, plan)
                                            : PlanCrashBody(comment, sources, ReadMemory, limit, plan);
    return planned && WriteCrashBody(plan, sources, ReadMemory, AppendToString, &body);
}

// The length of the body that carries exactly these parts, whole.
uint64_t GetBodyLength(const std::string& comment, const std::string* version,
                       const std::string (&parts)[CRASH_FILE_COUNT])
{
    MemoryFile files[CRASH_FILE_COUNT];
    for (int i = 0; i < CRASH_FILE_COUNT; ++i)
        files[i] = Present(parts[i]);
    std::string body;
    CrashBodyPlan plan;
    EXPECT_TRUE(EncodeCrash(comment, version, files, kCrashBodyLimit, body, plan));
    return body.size();
}

std::string MakeBytes(size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(rng() % 4 == 0 ? 0 : rng() & 0xFF);  // NUL bytes aplenty
    return bytes;
}

// Lines "line 001 ...\n" of 40 bytes each.
std::string MakeLines(int first, int last)
{
    std::string text;
    for (int i = first; i <= last; ++i) {
        char line[41];
        std::snprintf(line, sizeof line, "line %03d %-30s\n", i, "of the application's log");
        text += line;
    }
    return text;
}

const long kDefaultLimit = -1;

struct CrashBodyCase
{
    std::string name;
    std::string comment;
    MemoryFile files[CRASH_FILE_COUNT];  // dump, log, configuration as found
    std::string kept[CRASH_FILE_COUNT];  // what arrives; empty: the placeholder
    long slack;                          // limit: the body of exactly the kept parts plus this
    bool withVersion = false;            // the version record, as the reporter sends it now
    std::string version = std::string();
};

class CrashBodyRoundTrip : public ::testing::TestWithParam<CrashBodyCase> {};

TEST_P(CrashBodyRoundTrip, ParserReadsBackWhatTheLimitLets)
{
    CrashBodyCase c = GetParam();
    const std::string* version = c.withVersion ? &c.version : nullptr;
    const uint64_t limit =
        c.slack == kDefaultLimit ? kCrashBodyLimit : GetBodyLength(c.comment, version, c.kept) + c.slack;
    std::string body;
    CrashBodyPlan plan;
    ASSERT_TRUE(EncodeCrash(c.comment, version, c.files, limit, body, plan));
    EXPECT_EQ(plan.length, body.size()) << "the announced length";
    EXPECT_LE(body.size(), limit);

    CrashReport report;
    std::string reason;
    ASSERT_TRUE(ParseCrashBody(body.data(), body.size(), report, reason)) << reason;
    EXPECT_EQ(c.comment, report.comment);
    EXPECT_EQ(c.withVersion, report.withVersion);
    EXPECT_EQ(c.version, report.version);
    EXPECT_EQ(body, RebuildCrashBody(report));
    const ReportFile* files[CRASH_FILE_COUNT] = {&report.dump, &report.log, &report.conf};
    const char* names[CRASH_FILE_COUNT] = {"brevora.dmp", "brevora.log", "brevora.conf"};
    for (int i = 0; i < CRASH_FILE_COUNT; ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(names[i], files[i]->name);
        EXPECT_EQ(c.kept[i].empty() ? FileState::Placeholder : FileState::Content, files[i]->state);
        EXPECT_TRUE(c.kept[i] == files[i]->content)
            << files[i]->content.size() << " bytes, expected " << c.kept[i].size();
    }
}

std::vector<CrashBodyCase> MakeCases()
{
    const std::string dump = MakeBytes(3000, 1);
    const std::string log = MakeLines(1, 20);
    const std::string conf = MakeLines(21, 26);
    const std::string comment = "Gr\xC3\xBC\xC3\x9F" "e\r\nit froze";
    std::vector<CrashBodyCase> cases = {
        {"AllWholeNulBytesIncluded", comment, {Present(dump), Present(log), Present(conf)}, {dump, log, conf},
         kDefaultLimit},
        {"MissingFiles", "", {}, {"", "", ""}, kDefaultLimit},
        {"EmptyFiles", "x", {Present(""), Present(""), Present("")}, {"", "", ""}, kDefaultLimit},
        // The log's newest whole lines; one more line would not fit.
        {"LogCutToNewestLines", comment, {Present(dump), Present(log), Present(conf)},
         {dump, MakeLines(17, 20), conf}, 40},
        {"LogCutAtItsLastLine", comment, {Present(dump), Present(log), Present(conf)},
         {dump, MakeLines(20, 20), conf}, 0},
        // A log without a line break has no whole line to keep.
        {"LogOfOneLongLineLeftOut", comment, {Present(dump), Present(std::string(5000, 'a')), Present(conf)},
         {dump, "", conf}, 6000},
        {"ConfCutWhenNoLogFits", comment, {Present(dump), Present(log), Present(conf)},
         {dump, "", MakeLines(24, 26)}, 40},
        // The dump does not fit even beside nothing of the others: left out,
        // and then the log and the configuration fit whole.
        {"DumpLeftOutOthersWhole", comment, {Present(dump), Present(log), Present(conf)}, {"", log, conf}, 100},
        {"DumpLeftOutLogCut", comment, {Present(dump), Present(MakeLines(1, 200)), Present(conf)},
         {"", MakeLines(150, 200), conf}, 40},
        {"WithVersion", comment, {Present(dump), Present(log), Present(conf)}, {dump, log, conf}, kDefaultLimit,
         true, "2.1.0"},
        {"WithEmptyVersion", "", {}, {"", "", ""}, kDefaultLimit, true, ""},
        // The version's record counts in the limit like the comment's.
        {"LogCutBesideTheVersion", comment, {Present(dump), Present(log), Present(conf)},
         {dump, MakeLines(17, 20), conf}, 40, true, "2.1.0"},
    };
    // Block and line boundaries of the streamed files.
    const size_t kBlock = 75 * 4096;
    for (size_t size : {size_t(1), size_t(2), size_t(74), size_t(75), size_t(76), kBlock - 1, kBlock, kBlock + 1,
                        2 * kBlock + 74}) {
        CrashBodyCase c;
        c.name = "DumpOf" + std::to_string(size) + "Bytes";
        c.comment = "c";
        const std::string bytes = MakeBytes(size, static_cast<unsigned>(size));
        c.files[CRASH_FILE_DUMP] = Present(bytes);
        c.kept[CRASH_FILE_DUMP] = bytes;
        c.slack = kDefaultLimit;
        cases.push_back(c);
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Bodies, CrashBodyRoundTrip, ::testing::ValuesIn(MakeCases()),
                         [](const ::testing::TestParamInfo<CrashBodyCase>& info) { return info.param.name; });

TEST(CrashBody, FailsWhenTheCommentAloneDoesNotFit)
{
    MemoryFile files[CRASH_FILE_COUNT];
    std::string body;
    CrashBodyPlan plan;
    const std::string comment(300, 'c');
    const std::string none[CRASH_FILE_COUNT];
    EXPECT_TRUE(EncodeCrash(comment, nullptr, files, GetBodyLength(comment, nullptr, none), body, plan));
    EXPECT_FALSE(EncodeCrash(comment, nullptr, files, GetBodyLength(comment, nullptr, none) - 1, body, plan));
}

TEST(CrashBody, FileThatShrankAfterThePlanFailsTheWrite)
{
    MemoryFile files[CRASH_FILE_COUNT] = {Present(MakeBytes(1000, 3)), Present("log\n"), Present("conf\n")};
    CrashFileSource sources[CRASH_FILE_COUNT];
    for (int i = 0; i < CRASH_FILE_COUNT; ++i)
        sources[i] = {&files[i], files[i].bytes.size()};
    CrashBodyPlan plan;
    ASSERT_TRUE(PlanCrashBody("", sources, ReadMemory, kCrashBodyLimit, plan));
    files[CRASH_FILE_DUMP].readLimit = 999;
    std::string body;
    EXPECT_FALSE(WriteCrashBody(plan, sources, ReadMemory, AppendToString, &body));
}

}  // namespace

// Brevora may still write its log while the report goes out: the body is
// the planned one, of the announced length, whatever was added since.
TEST(CrashBody, FileThatGrewAfterThePlanKeepsThePlannedLength)
{
    MemoryFile files[CRASH_FILE_COUNT] = {Present(MakeBytes(1000, 3)), Present("log\n"), Present("conf\n")};
    CrashFileSource sources[CRASH_FILE_COUNT];
    for (int i = 0; i < CRASH_FILE_COUNT; ++i)
        sources[i] = {&files[i], files[i].bytes.size()};
    CrashBodyPlan plan;
    ASSERT_TRUE(PlanCrashBody("", "2.1", sources, ReadMemory, kCrashBodyLimit, plan));
    files[CRASH_FILE_LOG].bytes += "a line written after the plan\n";
    std::string body;
    ASSERT_TRUE(WriteCrashBody(plan, sources, ReadMemory, AppendToString, &body));
    EXPECT_EQ(plan.length, body.size());
    CrashReport report;
    std::string reason;
    ASSERT_TRUE(ParseCrashBody(body.data(), body.size(), report, reason)) << reason;
    EXPECT_EQ("log\n", report.log.content);
}
