// A 30 MiB application log: the reporter neither crashes nor writes past its
// 20 MiB body, and the server stores the newest part of the log that fits,
// in whole lines of its payload. A sparse log of 2 GiB: the same, and the
// reporter's memory does not grow with the file.
#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/wine/upload_support.h"

namespace {

const size_t kLogSize = 30u * 1024 * 1024;
const size_t kBodySize = 20971520;  // the reporter's body buffer, terminator included

std::string MakeLog(size_t size = kLogSize)
{
    std::string log;
    log.reserve(size + 100);
    for (unsigned line = 0; log.size() < size; ++line)
        log += "2026-01-05 10:00:00.000 player: line " + std::to_string(line) + " of the large log\r\n";
    log.resize(size);
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

// The log's size is written with its last bytes only: the rest is a hole.
bool WriteSparseLog(const std::string& tail, ULONGLONG size)
{
    HANDLE file = CreateFileW(AppLogPath().c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size - tail.size());
    DWORD written = 0;
    const bool ok = SetFilePointerEx(file, at, NULL, FILE_BEGIN) &&
                    WriteFile(file, tail.data(), static_cast<DWORD>(tail.size()), &written, NULL) &&
                    written == tail.size();
    CloseHandle(file);
    return ok;
}

SIZE_T ReadPrivateBytes(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters)))
        return 0;
    return std::max(counters.PrivateUsage, counters.PeakPagefileUsage);
}

TEST(LargeLog, TwoGibibyteSparseLogSendsItsNewestPartWithoutReadingItWhole)
{
    if (!HaveReportServer())
        GTEST_SKIP() << "run through with_report_server.sh, which names the server";
    std::string error;
    ASSERT_TRUE(StartReportServer("", error)) << error;
    const ULONGLONG kSparseSize = 2ull << 30;
    const std::string tail = MakeLog(16u * 1024 * 1024);
    AppLog log("");
    ASSERT_TRUE(WriteSparseLog(tail, kSparseSize));
    FormRun run(L"upload-sparse");
    HWND form = run.Start();
    ASSERT_NE(static_cast<HWND>(NULL), form) << run.Driver().Report();
    ASSERT_TRUE(FillForm(run, L"s", L"h", L"x", L""));
    DWORD processId = 0;
    GetWindowThreadProcessId(form, &processId);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    ASSERT_NE(static_cast<HANDLE>(NULL), process);

    SIZE_T peak = ReadPrivateBytes(process);
    const SIZE_T before = peak;
    ASSERT_TRUE(run.Driver().Click(form, IDC_SEND));
    HWND box = NULL;
    const DWORD start = GetTickCount();
    while (box == NULL && GetTickCount() - start < 120000) {
        box = run.Driver().WaitForMessageBox(kReporterCaption, 5);
        peak = std::max(peak, ReadPrivateBytes(process));
    }
    CloseHandle(process);
    std::printf("private bytes: %.1f MB before Send, at most %.1f MB while sending\n", before / 1e6, peak / 1e6);
    EXPECT_TRUE(IsThanksBox(run.Driver(), box));
    AcknowledgeThanks(run.Driver(), box);
    // Reading the file whole would take 2 GiB; the body alone is 20 MiB.
    EXPECT_LT(peak, 256u * 1024 * 1024) << "memory grew with the log";

    std::vector<StoredReport> reports = StoredReports();
    ASSERT_EQ(1u, reports.size());
    const std::string& stored = reports[0].fields["attachment_log"];
    ASSERT_GT(stored.size(), 14u * 1024 * 1024);
    ASSERT_LT(stored.size(), tail.size());
    EXPECT_TRUE(tail.compare(tail.size() - stored.size(), stored.size(), stored) == 0)
        << "the stored log is not the end of the file";
    EXPECT_EQ(0u, (kSparseSize - stored.size()) % 75) << "the cut is not on a whole line of the payload";
}

}  // namespace
