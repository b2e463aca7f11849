// The upload keys on both stores: every upload with one key is one report,
// whichever kind it is and whichever server on one database takes it.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "server/store/report_store.h"
#include "server/store/store_factory.h"
#include "tests/server/temp_folder.h"
#include "tests/server/test_postgres.h"

namespace {

struct Upload
{
    InsertResult result;
    int64_t id;
};

Upload UploadReport(ReportStore& store, const std::string& key, bool crash = false)
{
    ReportOrigin origin;
    origin.receivedUtc = "2026-12-08T10:00:00.000Z";
    origin.uploadKey = key;
    Upload upload = {InsertResult::Failed, 0};
    std::string error;
    if (crash)
        upload.result = store.InsertCrashReport(origin, CrashReport(), "", upload.id, error);
    else
        upload.result = store.InsertReport(origin, Report(), "", upload.id, error);
    EXPECT_NE(InsertResult::Failed, upload.result) << error;
    return upload;
}

size_t CountReports(ReportStore& store)
{
    std::vector<ReportSummary> reports;
    std::string error;
    EXPECT_TRUE(store.ListReports(reports, error)) << error;
    return reports.size();
}

class UploadKeyTest : public ::testing::TestWithParam<StoreKind>
{
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(PrepareTestStore(GetParam(), m_folder.Path(), m_where, error)) << error;
        m_store = Open();
        ASSERT_TRUE(m_store);
    }

    std::unique_ptr<ReportStore> Open()
    {
        std::string error;
        std::unique_ptr<ReportStore> store = OpenReportStore(m_where.dataDir, m_where.databaseUrl, true, error);
        EXPECT_TRUE(store) << error;
        return store;
    }

    TempFolder m_folder;
    TestStore m_where;
    std::unique_ptr<ReportStore> m_store;
};

TEST_P(UploadKeyTest, SameKeyStoresOnceAndAnswersWithTheFirstId)
{
    const Upload first = UploadReport(*m_store, "k1");
    EXPECT_EQ(InsertResult::Stored, first.result);
    for (const bool crash : {false, true}) {
        const Upload again = UploadReport(*m_store, "k1", crash);
        EXPECT_EQ(InsertResult::Repeated, again.result) << crash;
        EXPECT_EQ(first.id, again.id) << crash;
    }
    EXPECT_EQ(1u, CountReports(*m_store));
}

TEST_P(UploadKeyTest, DifferentKeysAndNoKeyStoreEach)
{
    const std::vector<std::string> keys = {"k1", "k2", "", ""};
    std::vector<int64_t> ids;
    for (const std::string& key : keys) {
        const Upload upload = UploadReport(*m_store, key, key == "k2");
        EXPECT_EQ(InsertResult::Stored, upload.result) << key;
        ids.push_back(upload.id);
    }
    EXPECT_EQ(keys.size(), CountReports(*m_store));
    EXPECT_EQ(ids.size(), std::set<int64_t>(ids.begin(), ids.end()).size());
}

// The key table outlives the store that wrote it: a restart, or another
// server on the same database.
TEST_P(UploadKeyTest, KeyFromAnotherOpeningOfTheStoreIsKnown)
{
    const Upload first = UploadReport(*m_store, "k1");
    std::unique_ptr<ReportStore> other = Open();
    ASSERT_TRUE(other);
    const Upload again = UploadReport(*other, "k1");
    EXPECT_EQ(InsertResult::Repeated, again.result);
    EXPECT_EQ(first.id, again.id);
}

// Retries that arrive together at two servers sharing a database (on SQLite:
// one server's concurrent uploads) still make one report.
TEST_P(UploadKeyTest, SimultaneousUploadsOfOneKeyStoreOnce)
{
    std::unique_ptr<ReportStore> other = Open();
    ASSERT_TRUE(other);
    const int kUploads = 8;
    std::atomic<int> stored(0);
    std::vector<int64_t> ids(kUploads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kUploads; ++i) {
        ReportStore& store = GetParam() == StoreKind::Postgres && i % 2 == 1 ? *other : *m_store;
        threads.emplace_back([&, i, &store = store]() {
            const Upload upload = UploadReport(store, "together");
            stored += upload.result == InsertResult::Stored ? 1 : 0;
            ids[i] = upload.id;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(1, stored.load());
    for (int64_t id : ids)
        EXPECT_EQ(ids[0], id);
    EXPECT_EQ(1u, CountReports(*m_store));
}

INSTANTIATE_TEST_SUITE_P(BothStores, UploadKeyTest, ::testing::ValuesIn(kBothStores),
                         [](const ::testing::TestParamInfo<StoreKind>& info) { return NameStoreKind(info.param); });

}  // namespace
