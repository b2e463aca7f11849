// A 30 MiB application log: the reporter neither crashes nor writes past its
// 20 MiB body, and the server stores the newest part of the log that fits,
// in whole lines of its payload.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/wine/upload_support.h"

namespace {

const size_t kLogSize = 30u * 1024 * 1024;
const size_t kBodySize = 20971520;  // the reporter's body buffer, terminator included

std::string MakeLog()
{
    std::string log;
    log.reserve(kLogSize + 100);
    for (unsigned line = 0; log.size() < kLogSize; ++line)
        log += "2026-01-05 10:00:00.000 player: line " + std::to_string(line) + " of the large log\r\n";
    log.resize(kLogSize);
    return log;
}

TEST(LargeLog, ThirtyMebibytesAreCutToTheirNewestLinesThatFit)
{
    if (!HaveReportServer())
        GTEST_SKIP() << "run through with_report_server.sh, which names the server";
    std::string error;
    ASSERT_TRUE(StartReportServer("", error)) << error;
    const std::string logBytes = MakeLog();
    AppLog log(logBytes);
    FormRun run(L"upload-large");
    HWND form = run.Start();
    ASSERT_NE(static_cast<HWND>(NULL), form) << run.Driver().Report();
    ASSERT_TRUE(FillForm(run, L"s", L"h", L"x", L""));

    HWND box = run.SendAndWaitForBox(120000);
    EXPECT_TRUE(IsThanksBox(run.Driver(), box));
    AcknowledgeThanks(run.Driver(), box);

    std::vector<StoredReport> reports = StoredReports();
    ASSERT_EQ(1u, reports.size());
    std::map<std::string, std::string>& f = reports[0].fields;
    EXPECT_LT(f["raw_body"].size(), kBodySize);
    EXPECT_GT(f["raw_body"].size() + 101, kBodySize - 1) << "one more line of the log would have fitted";
    const std::string& stored = f["attachment_log"];
    ASSERT_GT(stored.size(), 14u * 1024 * 1024);
    ASSERT_LT(stored.size(), logBytes.size());
    EXPECT_TRUE(logBytes.compare(logBytes.size() - stored.size(), stored.size(), stored) == 0)
        << "the stored log is not the end of the file";
    EXPECT_EQ(0u, (logBytes.size() - stored.size()) % 75) << "the cut is not on a whole line of the payload";
}

}  // namespace
