// The upload keys on both stores: every upload with one key is one report,
// whatever its kind and whichever server on one database takes it.
#include <gtest/gtest.h>

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

Upload UploadReport(ReportStore& store, const std::string& key, bool crash)
{
    ReportOrigin origin;
    origin.uploadKey = key;
    Upload upload = {InsertResult::Failed, 0};
    std::string error;
    upload.result = crash ? store.InsertCrashReport(origin, CrashReport(), "", upload.id, error)
                          : store.InsertReport(origin, Report(), "", upload.id, error);
    EXPECT_NE(InsertResult::Failed, upload.result) << error;
    return upload;
}

class UploadKeyTest : public ::testing::TestWithParam<StoreKind>
{
protected:
    // Two openings of one store: a restart, or a second server on the same
    // database.
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(PrepareTestStore(GetParam(), m_folder.Path(), m_where, error)) << error;
        for (auto& store : m_stores) {
            store = OpenReportStore(m_where.dataDir, m_where.databaseUrl, true, error);
            ASSERT_TRUE(store) << error;
        }
    }

    TempFolder m_folder;
    TestStore m_where;
    std::unique_ptr<ReportStore> m_stores[2];
};

TEST_P(UploadKeyTest, OneReportPerKeyOfEitherKindOnEitherServer)
{
    // key, crash, which opening; stored anew, or the id of an earlier upload.
    const struct { const char* key; bool crash; int store; int sameAs; } uploads[] = {
        {"k1", false, 0, -1}, {"k1", false, 0, 0}, {"k1", true, 1, 0}, {"k2", true, 1, -1},
        {"k2", false, 0, 3},  {"", false, 0, -1},  {"", false, 1, -1},
    };
    std::vector<int64_t> ids;
    for (const auto& u : uploads) {
        SCOPED_TRACE(std::string(u.key) + " upload " + std::to_string(ids.size()));
        const Upload upload = UploadReport(*m_stores[u.store], u.key, u.crash);
        EXPECT_EQ(u.sameAs < 0 ? InsertResult::Stored : InsertResult::Repeated, upload.result);
        if (u.sameAs >= 0) {
            EXPECT_EQ(ids[static_cast<size_t>(u.sameAs)], upload.id);
        }
        ids.push_back(upload.id);
    }
    std::vector<ReportSummary> reports;
    std::string error;
    ASSERT_TRUE(m_stores[0]->ListReports(reports, error)) << error;
    EXPECT_EQ(4u, reports.size());
}

// Retries that arrive together, at one server or at two sharing a database,
// still make one report.
TEST_P(UploadKeyTest, SimultaneousUploadsOfOneKeyStoreOnce)
{
    const int kUploads = 8;
    std::vector<Upload> uploads(kUploads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kUploads; ++i)
        threads.emplace_back([&, i] { uploads[i] = UploadReport(*m_stores[i % 2], "together", false); });
    for (std::thread& thread : threads)
        thread.join();
    int stored = 0;
    for (const Upload& upload : uploads) {
        stored += upload.result == InsertResult::Stored ? 1 : 0;
        EXPECT_EQ(uploads[0].id, upload.id);
    }
    EXPECT_EQ(1, stored);
}

INSTANTIATE_TEST_SUITE_P(BothStores, UploadKeyTest, ::testing::ValuesIn(kBothStores),
                         [](const ::testing::TestParamInfo<StoreKind>& info) { return NameStoreKind(info.param); });

}  // namespace
