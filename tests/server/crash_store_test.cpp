// Crash groups as the store keeps them, on both engines: counts as
// analyses are saved, moved and removed with their reports, regressions,
// the top list's periods and versions, binaries by their key, and no lost
// count when two servers save into one PostgreSQL database at once.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "server/base/version_text.h"
#include "server/crash/crash_service.h"
#include "server/store/crash_store.h"
#include "server/store/store_factory.h"
#include "tests/server/temp_folder.h"
#include "tests/server/test_postgres.h"

namespace {

class CrashStoreTest : public ::testing::TestWithParam<StoreKind>
{
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(PrepareTestStore(GetParam(), m_folder.Path(), m_store, error)) << error;
        m_reports = OpenReportStore(m_store.dataDir, m_store.databaseUrl, true, error);
        ASSERT_TRUE(m_reports) << error;
        m_crashes = OpenCrashStore(m_store.dataDir, m_store.databaseUrl, error);
        ASSERT_TRUE(m_crashes) << error;
    }

    int64_t StoreCrashReport(const std::string& receivedUtc)
    {
        ReportOrigin origin;
        origin.receivedUtc = receivedUtc;
        CrashReport report;
        report.comment = "crashed";
        int64_t id = 0;
        std::string error;
        EXPECT_EQ(InsertResult::Stored, m_reports->InsertCrashReport(origin, report, "", id, error)) << error;
        return id;
    }

    void Save(CrashStore& crashes, int64_t id, const std::string& receivedUtc, const std::string& signature,
              const std::string& version)
    {
        CrashAnalysis analysis;
        analysis.reportId = id;
        analysis.receivedUtc = receivedUtc;
        analysis.signature = signature;
        analysis.version = version;
        analysis.reason = "reason of " + signature;
        analysis.modules = {"brevora.exe/00000001/2000", "ntdll.dll/00000002/3000"};
        std::string error;
        ASSERT_TRUE(crashes.SaveAnalysis(analysis, error)) << error;
    }

    // signature -> "count status" of every group listed for query.
    std::map<std::string, std::string> ListGroups(int days, const std::string& version)
    {
        GroupQuery query;
        query.days = days;
        query.version = version;
        query.todayUtc = "2026-03-10";
        std::vector<CrashGroup> groups;
        std::string error;
        EXPECT_TRUE(m_crashes->ListTopGroups(query, groups, error)) << error;
        std::map<std::string, std::string> listed;
        for (const CrashGroup& group : groups)
            listed[group.signature] = std::to_string(group.periodCount) + " " + group.status;
        return listed;
    }

    TempFolder m_folder;
    TestStore m_store;
    std::unique_ptr<ReportStore> m_reports;
    std::unique_ptr<CrashStore> m_crashes;
};

TEST_P(CrashStoreTest, KeepsGroupCountsAsReportsAreFiledMovedAndRemoved)
{
    const int64_t a = StoreCrashReport("2026-03-10T08:00:00.000Z");
    const int64_t b = StoreCrashReport("2026-03-09T08:00:00.000Z");
    const int64_t c = StoreCrashReport("2026-02-01T08:00:00.000Z");
    Save(*m_crashes, a, "2026-03-10T08:00:00.000Z", "READ app!Load", "1.1");
    Save(*m_crashes, b, "2026-03-09T08:00:00.000Z", "READ app!Load", "1.2");
    Save(*m_crashes, c, "2026-02-01T08:00:00.000Z", "WRITE app!Save", "1.1");

    typedef std::map<std::string, std::string> Groups;
    const struct
    {
        int days;
        const char* version;
        Groups expected;
    } rows[] = {
        {0, "", {{"READ app!Load", "2 new"}, {"WRITE app!Save", "1 new"}}},
        {7, "", {{"READ app!Load", "2 new"}}},
        {1, "", {{"READ app!Load", "1 new"}}},
        {0, "1.1", {{"READ app!Load", "1 new"}, {"WRITE app!Save", "1 new"}}},
        {7, "1.2", {{"READ app!Load", "1 new"}}},
        {7, "9.9", {}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.expected, ListGroups(row.days, row.version)) << row.days << " " << row.version;

    // Processed again with another signature: the report changes groups.
    Save(*m_crashes, b, "2026-03-09T08:00:00.000Z", "WRITE app!Save", "1.2");
    EXPECT_EQ((Groups{{"READ app!Load", "1 new"}, {"WRITE app!Save", "2 new"}}), ListGroups(0, ""));

    // Removed with its report, from the counts too; a removed report is
    // not filed again.
    std::string error;
    ASSERT_TRUE(m_reports->RemoveReports({a}, error)) << error;
    Save(*m_crashes, a, "2026-03-10T08:00:00.000Z", "READ app!Load", "1.1");
    EXPECT_EQ((Groups{{"WRITE app!Save", "2 new"}}), ListGroups(0, ""));
    EXPECT_EQ((Groups{}), ListGroups(1, ""));
    CrashAnalysis gone;
    EXPECT_EQ(LoadResult::NotFound, m_crashes->LoadAnalysis(a, gone, error));
    std::vector<int64_t> ids;
    ASSERT_TRUE(m_crashes->FindReportsWithModule(BinaryKey{"brevora.exe", 1, 0x2000}, ids, error)) << error;
    EXPECT_EQ((std::vector<int64_t>{b, c}), ids);
    ASSERT_TRUE(m_crashes->FindCrashReports(false, ids, error)) << error;
    EXPECT_TRUE(ids.empty());
}

TEST_P(CrashStoreTest, ReopensAFixedGroupOnlyForANewerVersion)
{
    const int64_t first = StoreCrashReport("2026-03-01T08:00:00.000Z");
    Save(*m_crashes, first, "2026-03-01T08:00:00.000Z", "READ app!Load", "1.9");
    std::vector<CrashGroup> groups;
    std::string error;
    GroupQuery all;
    ASSERT_TRUE(m_crashes->ListTopGroups(all, groups, error)) << error;
    ASSERT_EQ(1u, groups.size());
    const int64_t group = groups[0].id;

    const struct
    {
        const char* version;
        const char* status;
    } rows[] = {
        {"1.9", "fixed"},     // users not yet updated
        {"1.10", "fixed"},    // the fix itself
        {"", "fixed"},        // unknown version
        {"1.10.1", "regression"},
    };
    ASSERT_EQ(StoreAnswer::Done, m_crashes->SetGroupStatus(group, "fixed", "1.10", error)) << error;
    for (const auto& row : rows) {
        const int64_t id = StoreCrashReport("2026-03-02T08:00:00.000Z");
        Save(*m_crashes, id, "2026-03-02T08:00:00.000Z", "READ app!Load", row.version);
        CrashGroup loaded;
        std::vector<std::pair<std::string, int64_t>> days;
        std::vector<int64_t> reports;
        ASSERT_EQ(LoadResult::Found, m_crashes->LoadGroup(group, loaded, days, reports, 10, error)) << error;
        EXPECT_EQ(row.status, loaded.status) << row.version;
        EXPECT_EQ(id, reports.front());
    }
    EXPECT_EQ(StoreAnswer::NotFound, m_crashes->SetGroupStatus(group + 100, "ignored", "", error));
}

TEST_P(CrashStoreTest, KeepsBinariesUnderTheirKey)
{
    const BinaryKey key{"brevora.exe", 0x5f3a1b2c, 0x1d000};
    StoredBinary binary;
    binary.key = key;
    binary.fileName = "build/brevora.exe";
    const std::string content("MZ\0\x01\xff binary", 12);
    std::string error;
    ASSERT_TRUE(m_crashes->AddBinary(binary, content, error)) << error;
    std::string loaded;
    EXPECT_EQ(LoadResult::Found, m_crashes->LoadBinary(key, loaded, error)) << error;
    EXPECT_EQ(content, loaded);
    EXPECT_EQ(LoadResult::NotFound, m_crashes->LoadBinary(BinaryKey{"brevora.exe", 0x5f3a1b2c, 0x1e000}, loaded, error));
    std::vector<StoredBinary> listed;
    ASSERT_TRUE(m_crashes->ListBinaries(listed, error)) << error;
    ASSERT_EQ(1u, listed.size());
    EXPECT_EQ(content.size(), listed[0].size);
}

// The version a crash report's body carried is the version its analysis
// is counted under.
TEST_P(CrashStoreTest, ProcessingFilesAReportUnderItsVersion)
{
    CrashReport report;
    report.withVersion = true;
    report.version = "2.4.1";
    int64_t id = 0;
    std::string error;
    ASSERT_EQ(InsertResult::Stored, m_reports->InsertCrashReport(ReportOrigin(), report, "", id, error)) << error;
    ASSERT_TRUE(ProcessCrashReports(*m_reports, *m_crashes, {id}, error)) << error;
    CrashAnalysis analysis;
    ASSERT_EQ(LoadResult::Found, m_crashes->LoadAnalysis(id, analysis, error)) << error;
    EXPECT_EQ("2.4.1", analysis.version);
}

INSTANTIATE_TEST_SUITE_P(BothStores, CrashStoreTest, ::testing::ValuesIn(kBothStores),
                         [](const ::testing::TestParamInfo<StoreKind>& info) { return NameStoreKind(info.param); });

TEST(PostgresCrashStore, TwoServersCountEveryReportOfOneGroup)
{
    TempFolder folder;
    TestStore store;
    std::string error;
    ASSERT_TRUE(PrepareTestStore(StoreKind::Postgres, folder.Path(), store, error)) << error;
    std::unique_ptr<ReportStore> reports = OpenReportStore("", store.databaseUrl, true, error);
    ASSERT_TRUE(reports) << error;
    std::vector<int64_t> ids;
    for (int i = 0; i < 60; ++i) {
        ReportOrigin origin;
        origin.receivedUtc = "2026-03-10T08:00:00.000Z";
        int64_t id = 0;
        ASSERT_EQ(InsertResult::Stored, reports->InsertCrashReport(origin, CrashReport(), "", id, error)) << error;
        ids.push_back(id);
    }
    std::vector<std::thread> servers;
    for (int server = 0; server < 2; ++server) {
        servers.emplace_back([&, server]() {
            std::string failure;
            std::unique_ptr<CrashStore> crashes = OpenCrashStore("", store.databaseUrl, failure);
            ASSERT_TRUE(crashes) << failure;
            for (size_t i = static_cast<size_t>(server); i < ids.size(); i += 2) {
                CrashAnalysis analysis;
                analysis.reportId = ids[i];
                analysis.receivedUtc = "2026-03-10T08:00:00.000Z";
                analysis.signature = "one crash";
                analysis.version = i % 3 == 0 ? "1.0" : "1.1";
                ASSERT_TRUE(crashes->SaveAnalysis(analysis, failure)) << failure;
            }
        });
    }
    for (std::thread& server : servers)
        server.join();
    std::unique_ptr<CrashStore> crashes = OpenCrashStore("", store.databaseUrl, error);
    ASSERT_TRUE(crashes) << error;
    GroupQuery query;
    query.days = 1;
    query.todayUtc = "2026-03-10";
    std::vector<CrashGroup> groups;
    ASSERT_TRUE(crashes->ListTopGroups(query, groups, error)) << error;
    ASSERT_EQ(1u, groups.size());
    EXPECT_EQ(60, groups[0].count);
    EXPECT_EQ(60, groups[0].periodCount);
    EXPECT_EQ((std::vector<std::pair<std::string, int64_t>>{{"1.1", 40}, {"1.0", 20}}), groups[0].versions);
}

TEST(CompareVersions, OrdersReleasesPartByPart)
{
    const struct
    {
        const char* a;
        const char* b;
        int order;
    } rows[] = {
        {"1.10", "1.9", 1}, {"1.4", "1.4.1", -1}, {"2.0", "2.0", 0},   {"1.04", "1.4", 0},
        {"1.4b", "1.4a", 1}, {"", "0", -1},       {"10.0", "9.99", 1}, {"1.4.0", "1.4", 1},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.order, CompareVersions(row.a, row.b)) << row.a << " vs " << row.b;
        EXPECT_EQ(-row.order, CompareVersions(row.b, row.a)) << row.b << " vs " << row.a;
    }
}

}  // namespace
