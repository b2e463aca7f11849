// Not a test: one timed upload for scripts/bench-upload.sh. Starts the
// reporter, fills in the form, and measures from the click on Send until the
// thank-you box (the server's 201 has then arrived), polling the reporter's
// private memory meanwhile, and how long the form takes to answer a sent
// message (SendMessageTimeout with WM_NULL) all the while.
//
//   upload_bench_driver.exe REPORTER.exe
//
// Prints "click_to_thanks_ms=N peak_private_bytes=N longest_unresponsive_ms=N
// click_unix_ms=N" (the click's wall-clock time, which the script sets
// against the server's log line of the 201); exit status 1 when the report
// was not thanked for.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>

#include "res/resource.h"
#include "tests/wine/user_driver.h"

namespace {

const wchar_t kCaption[] = L"Brevora Bug Reporter";
const DWORD kTimeoutMs = 120000;

SIZE_T ReadPrivateBytes(HANDLE process, SIZE_T* peak)
{
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters)))
        return 0;
    *peak = std::max(*peak, counters.PeakPagefileUsage);
    return counters.PrivateUsage;
}

bool Fill(UserDriver& driver, HWND form)
{
    for (int id : { IDC_STEPS, IDC_HAPPENED, IDC_SHOULDHAPPEN }) {
        HWND edit = GetDlgItem(form, id);
        PostMessageW(edit, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
        PostMessageW(edit, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
        if (!driver.Type(form, id, L"bench") || !driver.WaitForText(form, id, L"bench", 10000))
            return false;
    }
    return true;
}

double MillisecondsSince(const LARGE_INTEGER& start, const LARGE_INTEGER& frequency)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (now.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
}

// How long the form's thread takes to handle a sent message.
double ProbeForm(HWND form, const LARGE_INTEGER& frequency)
{
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(form, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored);
    return MillisecondsSince(start, frequency);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::printf("usage: upload_bench_driver.exe REPORTER.exe\n");
        return 2;
    }
    UserDriver driver;
    const EnvironmentChanges env = { { L"http_proxy", L"" }, { L"HTTP_PROXY", L"" } };
    HWND form = driver.Start(argv[1], L"", env) ? driver.WaitForDialog(kCaption, IDC_SEND, kTimeoutMs) : NULL;
    if (form == NULL || !Fill(driver, form)) {
        std::printf("no form to fill\n%s", driver.Report().c_str());
        return 1;
    }
    DWORD processId = 0;
    GetWindowThreadProcessId(form, &processId);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    SIZE_T peak = 0, polled = 0;
    if (process != NULL)
        polled = ReadPrivateBytes(process, &peak);

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    FILETIME clicked;
    GetSystemTimePreciseAsFileTime(&clicked);
    QueryPerformanceCounter(&start);
    driver.Click(form, IDC_SEND);
    HWND box = NULL;
    double longestProbe = 0;
    while (box == NULL) {
        box = driver.WaitForMessageBox(kCaption, 5);
        if (process != NULL)
            polled = std::max(polled, ReadPrivateBytes(process, &peak));
        if (box == NULL)
            longestProbe = std::max(longestProbe, ProbeForm(form, frequency));
        QueryPerformanceCounter(&end);
        if ((end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart > kTimeoutMs)
            break;
    }
    const double ms = (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
    const bool thanked = box != NULL && driver.Read(box).messageText == L"Thanks for your bug report.";
    // FILETIME counts 100 ns from 1601; the server logs Unix time.
    const unsigned long long clickUnixMs =
        ((static_cast<unsigned long long>(clicked.dwHighDateTime) << 32 | clicked.dwLowDateTime) -
         116444736000000000ULL) / 10000;
    std::printf("click_to_thanks_ms=%.0f peak_private_bytes=%llu longest_unresponsive_ms=%.0f click_unix_ms=%llu\n",
                ms, static_cast<unsigned long long>(std::max(peak, polled)), longestProbe, clickUnixMs);
    if (box != NULL)
        driver.Click(box, thanked ? IDOK : IDCANCEL);
    if (!thanked)
        driver.Click(form, IDC_CANCEL);
    driver.WaitForExit(30000);
    if (process != NULL)
        CloseHandle(process);
    return thanked ? 0 : 1;
}
