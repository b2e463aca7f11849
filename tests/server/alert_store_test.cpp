// Alerts from the outbox's side, on both engines: which events the crash
// store's saves and stored bug reports raise for which rules, the limits
// on a storm, the claims that keep a delivery to one sender, and each
// kind's webhook body and signature as a local receiver gets them.
#include <gtest/gtest.h>

#include <sodium.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "server/alerts/alert_message.h"
#include "server/alerts/alert_service.h"
#include "server/store/store_factory.h"
#include "tests/server/alert_receivers.h"
#include "tests/server/temp_folder.h"
#include "tests/server/test_postgres.h"

namespace {

using Raised = std::tuple<int64_t, std::string, int64_t>;  // rule, event, report

class AlertStoreTest : public ::testing::TestWithParam<StoreKind>
{
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(PrepareTestStore(GetParam(), m_folder.Path(), m_store, error)) << error;
        m_reports = OpenReportStore(m_store.dataDir, m_store.databaseUrl, true, error);
        m_crashes = OpenCrashStore(m_store.dataDir, m_store.databaseUrl, error);
        m_alerts = OpenAlertStore(m_store.dataDir, m_store.databaseUrl, error);
        ASSERT_TRUE(m_reports && m_crashes && m_alerts) << error;
    }

    int64_t AddRule(const std::vector<std::string>& events, const std::vector<std::string>& components = {})
    {
        AlertRule rule;
        rule.events = events;
        rule.components = components;
        rule.webhookUrl = m_receiver.Url();
        rule.secret = "s3cret";
        std::string error;
        EXPECT_TRUE(m_alerts->AddRule(rule, error)) << error;
        return rule.id;
    }

    // A crash report received at utc, saved under signature; its id.
    int64_t SaveCrash(const std::string& utc, const std::string& signature, const std::string& version = "1.0")
    {
        ReportOrigin origin;
        origin.receivedUtc = utc;
        CrashAnalysis analysis;
        std::string error;
        EXPECT_EQ(InsertResult::Stored,
                  m_reports->InsertCrashReport(origin, CrashReport(), "", analysis.reportId, error));
        analysis.receivedUtc = utc;
        analysis.signature = signature;
        analysis.version = version;
        EXPECT_TRUE(m_crashes->SaveAnalysis(analysis, error)) << error;
        return analysis.reportId;
    }

    std::vector<AlertDelivery> ClaimAll(AlertStore& store, const std::string& owner)
    {
        std::vector<AlertDelivery> deliveries;
        std::string error;
        EXPECT_TRUE(store.ClaimDeliveries(owner, time(nullptr), 60, 1000, deliveries, error)) << error;
        return deliveries;
    }

    std::set<Raised> ClaimRaised()
    {
        std::set<Raised> raised;
        for (const AlertDelivery& d : ClaimAll(*m_alerts, "test"))
            raised.insert(Raised(d.rule.id, d.event, d.reportId));
        return raised;
    }

    TempFolder m_folder;
    TestStore m_store;
    WebhookReceiver m_receiver;
    std::unique_ptr<ReportStore> m_reports;
    std::unique_ptr<CrashStore> m_crashes;
    std::unique_ptr<AlertStore> m_alerts;
};

TEST_P(AlertStoreTest, RaisesEachEventOnceForTheRulesThatAskForIt)
{
    const int64_t crashes = AddRule({"new-group", "regression"});
    const int64_t spikes = AddRule({"spike"});
    const int64_t audio = AddRule({"bug-report"}, {"Audio"});
    const int64_t first = SaveCrash("2026-03-01T08:00:00Z", "crash A");
    std::string error;
    ASSERT_EQ(StoreAnswer::Done, m_crashes->SetGroupStatus(1, "fixed", "1.0", error)) << error;
    SaveCrash("2026-03-01T08:30:00Z", "crash A", "1.0");  // not newer than the fix
    const int64_t back = SaveCrash("2026-03-01T10:00:00Z", "crash A", "1.1");
    SaveCrash("2026-03-01T10:10:00Z", "crash A", "1.1");  // already a regression
    // Two days later, twelve in one hour: a spike at the tenth.
    std::vector<int64_t> storm;
    for (int i = 0; i < 12; ++i)
        storm.push_back(SaveCrash("2026-03-03T09:" + std::to_string(10 + i) + ":00Z", "crash A", "1.1"));
    ASSERT_TRUE(m_alerts->QueueBugReportAlert(500, "AUDIO", "2026-03-03T09:00:00Z", error)) << error;
    ASSERT_TRUE(m_alerts->QueueBugReportAlert(500, "AUDIO", "2026-03-03T09:00:00Z", error)) << error;
    ASSERT_TRUE(m_alerts->QueueBugReportAlert(501, "Video", "2026-03-03T09:00:00Z", error)) << error;
    // Processed again (a binary added): counted once, raises nothing.
    CrashAnalysis again;
    ASSERT_EQ(LoadResult::Found, m_crashes->LoadAnalysis(first, again, error)) << error;
    again.signature = "crash B";
    ASSERT_TRUE(m_crashes->SaveAnalysis(again, error)) << error;

    EXPECT_EQ((std::set<Raised>{Raised(crashes, "new-group", first), Raised(crashes, "regression", back),
                                Raised(spikes, "spike", storm[9]), Raised(audio, "bug-report", 500)}),
              ClaimRaised());
}

TEST_P(AlertStoreTest, AStormOfOneNewGroupRaisesOneAlert)
{
    const int64_t rule = AddRule({"new-group", "regression", "spike"});
    const int64_t first = SaveCrash("2026-03-01T08:00:00Z", "storm");
    for (int i = 1; i < 40; ++i)
        SaveCrash("2026-03-01T08:" + std::to_string(10 + i) + ":00Z", "storm");
    EXPECT_EQ((std::set<Raised>{Raised(rule, "new-group", first)}), ClaimRaised());
}

TEST_P(AlertStoreTest, ADeliveryIsClaimedByOneSenderUntilRetried)
{
    AddRule({"bug-report"});
    std::string error;
    for (int64_t id = 1; id <= 6; ++id)
        ASSERT_TRUE(m_alerts->QueueBugReportAlert(id, "", "2026-03-01T08:00:00Z", error)) << error;
    std::unique_ptr<AlertStore> other = OpenAlertStore(m_store.dataDir, m_store.databaseUrl, error);
    ASSERT_TRUE(other) << error;
    std::vector<AlertDelivery> mine;
    std::vector<AlertDelivery> theirs;
    const int64_t now = time(nullptr);
    ASSERT_TRUE(m_alerts->ClaimDeliveries("one", now, 60, 4, mine, error)) << error;
    ASSERT_TRUE(other->ClaimDeliveries("two", now, 60, 4, theirs, error)) << error;
    EXPECT_EQ(4u, mine.size());
    ASSERT_EQ(2u, theirs.size());
    for (const AlertDelivery& d : mine)
        EXPECT_NE(d.id, theirs[0].id);
    // A retry comes back when due; a finish by one who holds no claim is
    // ignored.
    ASSERT_TRUE(m_alerts->FinishDelivery(mine[0].id, "one", DeliveryOutcome::Retry, now + 30, "down", "", error));
    ASSERT_TRUE(m_alerts->FinishDelivery(mine[1].id, "two", DeliveryOutcome::Sent, now, "", "", error));
    ASSERT_TRUE(other->ClaimDeliveries("two", now + 31, 60, 10, theirs, error)) << error;
    ASSERT_EQ(1u, theirs.size());
    EXPECT_EQ(mine[0].id, theirs[0].id);
    EXPECT_EQ(1, theirs[0].attempts);
}

TEST_P(AlertStoreTest, EachKindReachesTheWebhookSignedWithItsFacts)
{
    ASSERT_TRUE(m_receiver.Start());
    AddRule({"new-group", "bug-report"});
    SaveCrash("2026-03-01T08:00:00Z", "EXCEPTION_ACCESS_VIOLATION_READ | brevora.exe!CopyName", "1.2");
    std::string error;
    ASSERT_TRUE(m_alerts->QueueBugReportAlert(77, "Audio \"out\"", "2026-03-01T09:00:00Z", error)) << error;
    AlertSettings settings;
    settings.publicUrl = "https://bugs.example.org/";
    for (const AlertDelivery& d : ClaimAll(*m_alerts, "test"))
        ASSERT_TRUE(DeliverAlert(d, settings, error)) << error;
    const std::vector<ReceivedHook> hooks = m_receiver.WaitFor(2);
    ASSERT_EQ(2u, hooks.size());
    const std::string expected[] = {
        "{\"event\":\"new-group\",\"text\":\"New crash: EXCEPTION_ACCESS_VIOLATION_READ | brevora.exe!CopyName"
        " (1 report, version 1.2) https://bugs.example.org/crashes/1\",\"report_id\":1,"
        "\"report_url\":\"https://bugs.example.org/reports/1\",\"received_utc\":\"2026-03-01T08:00:00Z\","
        "\"signature\":\"EXCEPTION_ACCESS_VIOLATION_READ | brevora.exe!CopyName\",\"group_id\":1,"
        "\"group_url\":\"https://bugs.example.org/crashes/1\",\"reports\":1,\"reports_this_hour\":1,"
        "\"version\":\"1.2\",\"versions\":[{\"version\":\"1.2\",\"reports\":1}]}",
        "{\"event\":\"bug-report\",\"text\":\"New bug report #77 (Audio \\\"out\\\")"
        " https://bugs.example.org/reports/77\",\"report_id\":77,\"report_url\":\"https://bugs.example.org/reports/77\","
        "\"received_utc\":\"2026-03-01T09:00:00Z\",\"component\":\"Audio \\\"out\\\"\"}"};
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(expected[i], hooks[i].body);
        // Verified as a receiver would, from the secret and the raw body.
        unsigned char mac[crypto_auth_hmacsha256_BYTES];
        crypto_auth_hmacsha256_state state;
        crypto_auth_hmacsha256_init(&state, reinterpret_cast<const unsigned char*>("s3cret"), 6);
        crypto_auth_hmacsha256_update(&state, reinterpret_cast<const unsigned char*>(hooks[i].body.data()),
                                      hooks[i].body.size());
        crypto_auth_hmacsha256_final(&state, mac);
        ASSERT_EQ(71u, hooks[i].signature.size());
        unsigned char given[sizeof mac];
        ASSERT_EQ(0, sodium_hex2bin(given, sizeof given, hooks[i].signature.c_str() + 7, 64, nullptr, nullptr, nullptr));
        EXPECT_EQ(0, sodium_memcmp(mac, given, sizeof mac));
    }
}

INSTANTIATE_TEST_SUITE_P(BothStores, AlertStoreTest, ::testing::ValuesIn(kBothStores),
                         [](const ::testing::TestParamInfo<StoreKind>& info) { return NameStoreKind(info.param); });

TEST(SignAlertBody, MatchesTheHmacTestVector)
{
    // RFC 4231, test case 2.
    EXPECT_EQ("sha256=5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843",
              SignAlertBody("Jefe", "what do ya want for nothing?"));
}

TEST(EscapeJsonText, KeepsUtf8AndEscapesTheRest)
{
    const struct
    {
        const char* name;
        std::string bytes;
        std::string json;
    } cases[] = {
        {"quote and backslash", "a\"b\\c", "a\\\"b\\\\c"},
        {"control bytes", std::string("\n\x01\x7f", 3), "\\u000a\\u0001\\u007f"},
        {"UTF-8 kept", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"stray continuation", "a\x80z", "a\xEF\xBF\xBDz"},
        {"overlong", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"surrogate", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"cut short", "\xE2\x82", "\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.json, EscapeJsonText(c.bytes));
    }
}

}  // namespace
