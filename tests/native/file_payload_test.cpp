// A file's payload from its size and its one read: the placeholder, the
// empty payload of a failed or short read, the NUL cut and the wrapping.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "report_format/file_payload.h"

namespace {

// A file as the reader sees it: its bytes, and how its read behaves.
struct FakeFile
{
    std::string bytes;
    bool readFails = false;
    uint32_t deliverAtMost = 0xFFFFFFFF;  // a file that shrank under us
    int reads = 0;
    uint32_t askedFor = 0;
};

bool ReadFake(void* source, char* buffer, uint32_t size, uint32_t* got)
{
    FakeFile* file = static_cast<FakeFile*>(source);
    ++file->reads;
    file->askedFor = size;
    if (file->readFails)
        return false;
    const uint32_t n = std::min<uint32_t>({size, file->deliverAtMost, static_cast<uint32_t>(file->bytes.size())});
    std::memcpy(buffer, file->bytes.data(), n);
    *got = n;
    return true;
}

struct PayloadRow
{
    const char* name;
    std::string bytes;
    uint32_t size;        // what the size query gave
    bool readFails;
    uint32_t deliverAtMost;
    std::string payload;
    int reads;            // how often the file is read
};

void PrintTo(const PayloadRow& row, std::ostream* os)
{
    *os << row.name;
}

class ReadFilePayloadTest : public ::testing::TestWithParam<PayloadRow> {};

TEST_P(ReadFilePayloadTest, GivesThePayload)
{
    const PayloadRow& row = GetParam();
    FakeFile file;
    file.bytes = row.bytes;
    file.readFails = row.readFails;
    file.deliverAtMost = row.deliverAtMost;
    EXPECT_EQ(row.payload, ReadFilePayload(&file, row.size, ReadFake));
    EXPECT_EQ(row.reads, file.reads);
    if (row.reads == 1) {
        EXPECT_EQ(row.size, file.askedFor) << "the whole size in one read";
    }
}

const uint32_t kAll = 0xFFFFFFFF;

INSTANTIATE_TEST_SUITE_P(Rows, ReadFilePayloadTest,
    ::testing::Values(
        PayloadRow{"MissingGivesPlaceholder", "", kNoFileSize, false, kAll, "WFhY\n", 0},
        PayloadRow{"EmptyGivesPlaceholder", "", 0, false, kAll, "WFhY\n", 0},
        PayloadRow{"WholeFile", "foobar", 6, false, kAll, "Zm9vYmFy", 1},
        PayloadRow{"NulInsideEndsTheText", std::string("fo\0obar", 7), 7, false, kAll, "Zm8=", 1},
        PayloadRow{"LeadingNulGivesEmpty", std::string("\0foo", 4), 4, false, kAll, "", 1},
        PayloadRow{"ReadShortGivesEmpty", "foobar", 6, false, 5, "", 1},
        PayloadRow{"ReadFailsGivesEmpty", "foobar", 6, true, kAll, "", 1},
        // The size is taken before the read; a file that grew is read to that size.
        PayloadRow{"GrownFileIsReadToItsSize", "foobarbaz", 6, false, kAll, "Zm9vYmFy", 1},
        PayloadRow{"SeventySixBytesWrap", std::string(76, '\xFF'), 76, false, kAll,
                   std::string(100, '/') + "\n/w==", 1}),
    [](const ::testing::TestParamInfo<PayloadRow>& info) { return std::string(info.param.name); });

}  // namespace
