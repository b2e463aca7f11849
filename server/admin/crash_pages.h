// The HTML of the crash pages: the top crashes, one group's, and the
// release binaries; every value escaped by the templates.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "server/admin/admin_pages.h"
#include "server/store/crash_store.h"

// What the list of top crashes was asked for, for its form and links.
struct CrashListView
{
    std::string period;  // "7", "30" or "all"
    std::string version;
    std::vector<CrashGroup> groups;
};

std::string RenderCrashList(const PageFrame& frame, const CrashListView& view);

// days: the group's counts per day, oldest first; newest: the analysis of
// its newest report (reportId 0: none); reports: its newest reports' ids.
std::string RenderCrashGroup(const PageFrame& frame, const CrashGroup& group,
                             const std::vector<std::pair<std::string, int64_t>>& days, const CrashAnalysis& newest,
                             const std::vector<int64_t>& reports);

std::string RenderBinaries(const PageFrame& frame, const std::vector<StoredBinary>& binaries);
