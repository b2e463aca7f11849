// Not a test: how long the Crashes page takes with many stored crash
// reports (SQLite). Fills a store with REPORTS analyses in GROUPS groups,
// spread over 90 days and three versions with a long tail, then prints the
// median and worst time of the page's query and rendering for each period.
//   crash_bench [REPORTS [GROUPS]]        default 1000000 20000
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "server/admin/crash_pages.h"
#include "server/store/crash_store.h"
#include "server/store/report_store.h"
#include "server/store/store_factory.h"
#include "tests/server/temp_folder.h"

namespace {

typedef std::chrono::steady_clock Clock;

bool Execute(sqlite3* db, const char* sql)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    std::fprintf(stderr, "crash_bench: %s\n", message != nullptr ? message : "?");
    sqlite3_free(message);
    return false;
}

std::string FormatDay(int daysAgo)
{
    return ShiftUtcDay("2026-03-31", -daysAgo);
}

// The counts kept per group, day and version, written as the store keeps
// them; each report gets its analysis row too (the version filter over a
// period reads those).
bool Fill(sqlite3* db, long reports, long groups)
{
    std::mt19937 rng(7);
    std::vector<double> weights;
    for (long g = 0; g < groups; ++g)
        weights.push_back(1.0 / static_cast<double>(g + 1));
    std::discrete_distribution<long> pickGroup(weights.begin(), weights.end());
    std::uniform_int_distribution<int> pickDay(0, 89);
    const char* const versions[] = {"1.8", "1.9", "2.0"};
    std::map<std::pair<long, int>, long> days;
    std::map<std::pair<long, int>, long> perVersion;
    std::vector<long> counts(static_cast<size_t>(groups), 0);
    if (!Execute(db, "BEGIN"))
        return false;
    sqlite3_stmt* analysis = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO crash_analyses (report_id, group_id, received_utc, version, reason, text, modules)"
                       " VALUES (?1, ?2, ?3, ?4, 'EXCEPTION_ACCESS_VIOLATION_READ at 0x0', 'text', '')",
                       -1, &analysis, nullptr);
    for (long r = 1; r <= reports; ++r) {
        const long group = pickGroup(rng);
        const int day = pickDay(rng);
        const int version = day < 30 ? 2 : day < 60 ? 1 : 0;
        ++counts[static_cast<size_t>(group)];
        ++days[std::make_pair(group, day)];
        ++perVersion[std::make_pair(group, version)];
        const std::string received = FormatDay(day) + "T12:00:00.000Z";
        sqlite3_reset(analysis);
        sqlite3_bind_int64(analysis, 1, r);
        sqlite3_bind_int64(analysis, 2, group + 1);
        sqlite3_bind_text(analysis, 3, received.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(analysis, 4, versions[version], -1, SQLITE_STATIC);
        if (sqlite3_step(analysis) != SQLITE_DONE)
            return false;
    }
    sqlite3_finalize(analysis);
    // The counts as the triggers would have left them.
    if (!Execute(db, "DELETE FROM crash_group_days; DELETE FROM crash_group_versions; DELETE FROM crash_groups"))
        return false;
    sqlite3_stmt* group = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO crash_groups (id, signature, count, first_seen, last_seen) VALUES (?1, ?2, ?3,"
                       " '2026-01-01T00:00:00.000Z', '2026-03-31T00:00:00.000Z')",
                       -1, &group, nullptr);
    for (long g = 0; g < groups; ++g) {
        const std::string signature = "EXCEPTION_ACCESS_VIOLATION_READ ntdll | brevora.exe!Function" + std::to_string(g);
        sqlite3_reset(group);
        sqlite3_bind_int64(group, 1, g + 1);
        sqlite3_bind_text(group, 2, signature.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(group, 3, counts[static_cast<size_t>(g)]);
        sqlite3_step(group);
    }
    sqlite3_finalize(group);
    sqlite3_stmt* day = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO crash_group_days (group_id, day, count) VALUES (?1, ?2, ?3)", -1, &day,
                       nullptr);
    for (const auto& entry : days) {
        const std::string text = FormatDay(entry.first.second);
        sqlite3_reset(day);
        sqlite3_bind_int64(day, 1, entry.first.first + 1);
        sqlite3_bind_text(day, 2, text.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(day, 3, entry.second);
        sqlite3_step(day);
    }
    sqlite3_finalize(day);
    sqlite3_stmt* version = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO crash_group_versions (group_id, version, count) VALUES (?1, ?2, ?3)", -1,
                       &version, nullptr);
    for (const auto& entry : perVersion) {
        sqlite3_reset(version);
        sqlite3_bind_int64(version, 1, entry.first.first + 1);
        sqlite3_bind_text(version, 2, versions[entry.first.second], -1, SQLITE_STATIC);
        sqlite3_bind_int64(version, 3, entry.second);
        sqlite3_step(version);
    }
    sqlite3_finalize(version);
    std::printf("filled: %ld reports, %ld groups, %zu group-day rows, %zu group-version rows\n", reports, groups,
                days.size(), perVersion.size());
    return Execute(db, "COMMIT") && Execute(db, "ANALYZE");
}

}  // namespace

int main(int argc, char** argv)
{
    const long reports = argc > 1 ? std::atol(argv[1]) : 1000000;
    const long groups = argc > 2 ? std::atol(argv[2]) : 20000;
    TempFolder folder;
    std::string error;
    std::unique_ptr<CrashStore> crashes = OpenCrashStore(folder.Path(), "", error);
    if (!crashes) {
        std::fprintf(stderr, "crash_bench: %s\n", error.c_str());
        return 1;
    }
    sqlite3* db = nullptr;
    sqlite3_open((folder.Path() + "/" + kDatabaseFileName).c_str(), &db);
    const Clock::time_point filling = Clock::now();
    if (!Fill(db, reports, groups))
        return 1;
    sqlite3_close(db);
    std::printf("fill: %.1f s\n", std::chrono::duration<double>(Clock::now() - filling).count());

    const struct
    {
        const char* name;
        int days;
        const char* version;
    } views[] = {{"all time", 0, ""}, {"30 days", 30, ""}, {"7 days", 7, ""}, {"all time, 2.0", 0, "2.0"},
                 {"7 days, 2.0", 7, "2.0"}};
    PageFrame frame;
    for (const auto& view : views) {
        std::vector<double> times;
        size_t bytes = 0;
        for (int round = 0; round < 21; ++round) {
            const Clock::time_point start = Clock::now();
            GroupQuery query;
            query.days = view.days;
            query.version = view.version;
            query.todayUtc = "2026-03-31";
            CrashListView list;
            list.period = view.days == 0 ? "all" : std::to_string(view.days);
            list.version = view.version;
            if (!crashes->ListTopGroups(query, list.groups, error)) {
                std::fprintf(stderr, "crash_bench: %s\n", error.c_str());
                return 1;
            }
            bytes = RenderCrashList(frame, list).size();
            times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        std::sort(times.begin(), times.end());
        std::printf("Crashes page, %-14s median %6.2f ms, worst %6.2f ms, %zu bytes\n", view.name,
                    times[times.size() / 2], times.back(), bytes);
    }
    return 0;
}
