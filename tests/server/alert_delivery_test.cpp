// Alerts end to end: the real server sends them to a webhook receiver and
// an SMTP sink of the test's own, once each, across a receiver that was
// down and a restart, and with two servers on one PostgreSQL database.
#include <gtest/gtest.h>

#include <httplib.h>
#include <signal.h>

#include <set>
#include <string>
#include <vector>

#include "tests/server/alert_receivers.h"
#include "tests/server/report_factory.h"
#include "tests/server/server_process.h"
#include "tests/server/temp_folder.h"
#include "tests/server/test_postgres.h"

namespace {

const char kFormType[] = "application/x-www-form-urlencoded";

std::vector<std::string> MakeServeArgs(const TestStore& store, int smtpPort)
{
    std::vector<std::string> args = store.ServeArgs();
    const std::vector<std::string> more = {"--listen", "127.0.0.1:0", "--rate-limit", "off", "--public-url",
                                           "http://maintainers.example/", "--smtp",
                                           "smtp://127.0.0.1:" + std::to_string(smtpPort), "--smtp-from",
                                           "alerts@example.org"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

::testing::AssertionResult AddRule(const TestStore& store, const std::vector<std::string>& how)
{
    std::vector<std::string> args = {"alert", "add"};
    const std::vector<std::string> where = store.ReadArgs();
    args.insert(args.end(), where.begin(), where.end());
    args.insert(args.end(), how.begin(), how.end());
    const ProgramResult result = RunServer(args);
    if (result.exitStatus != 0)
        return ::testing::AssertionFailure() << "alert add failed: " << result.err;
    return ::testing::AssertionSuccess();
}

bool PostTo(const ServerProcess& server, const char* path, const std::string& body)
{
    httplib::Client client("127.0.0.1", server.Port());
    httplib::Result result = client.Post(path, body, kFormType);
    return result && result->status == 201;
}

std::string EncodeBugReport(const std::string& component)
{
    ReportInput input;
    input.email = "user@example.org";
    input.description1 = "played a film";
    input.description2 = "no sound";
    input.description3 = "sound";
    input.systemInfo = "Windows 10\nElement=" + component;
    return EncodeReport(input);
}

// A crash report whose dump cannot be read: its group is "(no readable dump)".
const std::string kCrashBody = EncodeCrashReport("it crashed", "not a dump", "log\n", "conf\n");

class AlertDeliveryTest : public ::testing::TestWithParam<StoreKind>
{
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(PrepareTestStore(GetParam(), m_folder.Path(), m_store, error)) << error;
        ASSERT_TRUE(m_sink.Start());
    }

    TempFolder m_folder;
    TestStore m_store;
    WebhookReceiver m_receiver;
    SmtpSink m_sink;
};

TEST_P(AlertDeliveryTest, ANewCrashGivesOneWebhookAndOneMailLinkingItsGroup)
{
    ASSERT_TRUE(m_receiver.Start());
    ASSERT_TRUE(AddRule(m_store, {"--webhook", m_receiver.Url()}));
    ASSERT_TRUE(AddRule(m_store, {"--email", "maintainer@example.org"}));
    ServerProcess server;
    ASSERT_TRUE(server.Start(MakeServeArgs(m_store, m_sink.Port()))) << server.Stderr();
    ASSERT_TRUE(PostTo(server, "/bugreport/crash/", kCrashBody));
    ASSERT_TRUE(PostTo(server, "/bugreport/crash/", kCrashBody));
    const std::vector<ReceivedHook> waited = m_receiver.WaitFor(1);
    const std::vector<std::string> mailed = m_sink.WaitFor(1);
    ASSERT_EQ(0, server.Stop(SIGTERM)) << server.Stderr();
    const std::vector<ReceivedHook> hooks = m_receiver.WaitFor(0);
    const std::vector<std::string> mails = m_sink.WaitFor(0);
    ASSERT_EQ(1u, hooks.size()) << server.Stderr();
    ASSERT_EQ(1u, mails.size()) << server.Stderr();
    EXPECT_NE(std::string::npos, hooks[0].body.find("\"event\":\"new-group\",\"text\":\"New crash: (no readable dump)"));
    EXPECT_NE(std::string::npos, hooks[0].body.find("\"group_url\":\"http://maintainers.example/crashes/1\""));
    EXPECT_EQ("", hooks[0].signature);  // no secret given
    EXPECT_EQ(0u, mails[0].find("RCPT TO:<maintainer@example.org>\n"));
    EXPECT_NE(std::string::npos, mails[0].find("Subject: [Brevora] New crash: (no readable dump) (1 report)\r\n"));
    EXPECT_NE(std::string::npos, mails[0].find("Group: http://maintainers.example/crashes/1\r\n"));
}

TEST_P(AlertDeliveryTest, AnAlertMissedWhileTheReceiverWasDownComesOnceAfterARestart)
{
    ASSERT_TRUE(m_receiver.Start());
    const int port = m_receiver.Port();
    const std::string url = m_receiver.Url();
    m_receiver.Stop();
    TempFolder secretFolder;
    const std::string secretFile = secretFolder.Path() + "/secret";
    ASSERT_EQ(0, system(("printf 'k3y\\n' > " + secretFile).c_str()));
    ASSERT_TRUE(AddRule(m_store, {"--webhook", url, "--secret-file", secretFile, "--on", "bug-report"}));
    {
        ServerProcess server;
        ASSERT_TRUE(server.Start(MakeServeArgs(m_store, m_sink.Port()))) << server.Stderr();
        ASSERT_TRUE(PostTo(server, "/bugreport/report/", EncodeBugReport("Audio")));
        ASSERT_TRUE(server.WaitForStderr("will retry", 30)) << server.Stderr();
        ASSERT_EQ(0, server.Stop(SIGTERM)) << server.Stderr();
    }
    WebhookReceiver back;
    ASSERT_TRUE(back.Start(port));
    ServerProcess server;
    ASSERT_TRUE(server.Start(MakeServeArgs(m_store, m_sink.Port()))) << server.Stderr();
    back.WaitFor(1, 40);
    ASSERT_EQ(0, server.Stop(SIGTERM)) << server.Stderr();
    const std::vector<ReceivedHook> hooks = back.WaitFor(0);
    ASSERT_EQ(1u, hooks.size()) << server.Stderr();
    EXPECT_NE(std::string::npos, hooks[0].body.find("\"component\":\"Audio\""));
    EXPECT_EQ(71u, hooks[0].signature.size());  // sha256= and 64 hex digits; verified in AlertStoreTest
}

INSTANTIATE_TEST_SUITE_P(BothStores, AlertDeliveryTest, ::testing::ValuesIn(kBothStores),
                         [](const ::testing::TestParamInfo<StoreKind>& info) { return NameStoreKind(info.param); });

TEST(AlertDelivery, TwoServersOnOneDatabaseSendEachEventOnce)
{
    TempFolder folder;
    TestStore store;
    std::string error;
    ASSERT_TRUE(PrepareTestStore(StoreKind::Postgres, folder.Path(), store, error)) << error;
    WebhookReceiver receiver;
    SmtpSink sink;
    ASSERT_TRUE(receiver.Start() && sink.Start());
    ASSERT_TRUE(AddRule(store, {"--webhook", receiver.Url(), "--on", "new-group,bug-report"}));
    ServerProcess servers[2];
    for (ServerProcess& server : servers)
        ASSERT_TRUE(server.Start(MakeServeArgs(store, sink.Port()))) << server.Stderr();
    const int kReports = 8;
    for (int i = 0; i < kReports; ++i)
        ASSERT_TRUE(PostTo(servers[i % 2], "/bugreport/report/", EncodeBugReport("Video")));
    ASSERT_TRUE(PostTo(servers[1], "/bugreport/crash/", kCrashBody));
    receiver.WaitFor(kReports + 1, 30);
    for (ServerProcess& server : servers)
        ASSERT_EQ(0, server.Stop(SIGTERM)) << server.Stderr();
    std::set<std::string> distinct;
    const std::vector<ReceivedHook> hooks = receiver.WaitFor(0);
    for (const ReceivedHook& hook : hooks)
        distinct.insert(hook.body);
    EXPECT_EQ(static_cast<size_t>(kReports + 1), hooks.size());
    EXPECT_EQ(hooks.size(), distinct.size());
}

}  // namespace
