#include "crash/kept_reports_bound.h"

size_t CountReportsToDrop(const std::vector<uint64_t>& sizes, uint64_t newSize, size_t maxCount, uint64_t maxBytes)
{
    uint64_t total = newSize;
    for (uint64_t size : sizes)
        total += size;
    size_t dropped = 0;
    while (dropped < sizes.size() && (sizes.size() - dropped + 1 > maxCount || total > maxBytes)) {
        total -= sizes[dropped];
        ++dropped;
    }
    return dropped;
}
