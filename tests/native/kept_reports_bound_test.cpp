// Which kept crash reports make room for a new one: the oldest first.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crash/kept_reports_bound.h"

namespace {

const uint64_t kMiB = 1024 * 1024;

struct BoundRow
{
    const char* name;
    std::vector<uint64_t> sizes;  // oldest first
    uint64_t newSize;
    size_t dropped;
};

void PrintTo(const BoundRow& row, std::ostream* os)
{
    *os << row.name;
}

class CountReportsToDropTest : public ::testing::TestWithParam<BoundRow> {};

TEST_P(CountReportsToDropTest, KeepsFiveAndAQuarterGibibyteAtMost)
{
    EXPECT_EQ(GetParam().dropped, CountReportsToDrop(GetParam().sizes, GetParam().newSize));
}

INSTANTIATE_TEST_SUITE_P(Rows, CountReportsToDropTest,
    ::testing::Values(
        BoundRow{"NoneKept", {}, 10, 0},
        BoundRow{"FourKeptRoomForAFifth", {1, 2, 3, 4}, 5, 0},
        BoundRow{"FiveKeptTheOldestGoes", {1, 2, 3, 4, 5}, 6, 1},
        BoundRow{"MoreThanFiveFromAnOlderBound", {1, 2, 3, 4, 5, 6, 7}, 8, 3},
        BoundRow{"ExactlyTheBytes", {128 * kMiB, 64 * kMiB}, 64 * kMiB, 0},
        BoundRow{"OneByteOverTheOldestGoes", {128 * kMiB, 64 * kMiB}, 64 * kMiB + 1, 1},
        BoundRow{"LargeNewOneTakesTwo", {64 * kMiB, 64 * kMiB, 64 * kMiB, 64 * kMiB}, 128 * kMiB, 2},
        BoundRow{"TooLargeEvenAloneDropsAll", {1, 2}, 257 * kMiB, 2}),
    [](const ::testing::TestParamInfo<BoundRow>& info) { return std::string(info.param.name); });

}  // namespace
