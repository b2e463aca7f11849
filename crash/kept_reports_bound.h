// How many unsent crash reports are kept for a later start, and which go
// when a new one comes: the oldest first. Portable, so it is tested natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

const size_t kMostKeptReports = 5;
const uint64_t kMostKeptBytes = 256ull * 1024 * 1024;

// sizes: the kept reports' sizes, oldest first. The number of the oldest to
// drop so that one more of newSize stays within maxCount reports and
// maxBytes; all of them when even that is not enough (a new report larger
// than maxBytes is then not kept either).
size_t CountReportsToDrop(const std::vector<uint64_t>& sizes, uint64_t newSize, size_t maxCount = kMostKeptReports,
                          uint64_t maxBytes = kMostKeptBytes);
