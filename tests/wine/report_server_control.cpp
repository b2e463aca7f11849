#include "tests/wine/report_server_control.h"

#include "tests/wine/test_support.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

const DWORD kReplyTimeoutMs = 30000;

std::wstring ControlFolder()
{
    WCHAR value[1024];
    DWORD length = GetEnvironmentVariableW(L"BREVORA_E2E_SERVER_CONTROL", value, 1024);
    if (length == 0 || length >= 1024)
        return std::wstring();
    // A Unix path; Wine shows the Unix root as drive Z:.
    std::wstring path = L"Z:" + std::wstring(value, length);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}


// Sends one command line to the launcher and waits for its reply.
bool SendControlCommand(const std::string& command, std::string& error)
{
    const std::wstring folder = ControlFolder();
    if (folder.empty()) {
        error = "no BREVORA_E2E_SERVER_CONTROL: run through with_report_server.sh";
        return false;
    }
    const std::wstring reply = folder + L"\\reply";
    DeleteFileW(reply.c_str());
    const std::wstring pending = folder + L"\\request.tmp";
    if (!WriteFileBytes(pending, command + "\n") ||
        !MoveFileExW(pending.c_str(), (folder + L"\\request").c_str(), MOVEFILE_REPLACE_EXISTING)) {
        error = "cannot write the request '" + command + "'";
        return false;
    }
    const DWORD start = GetTickCount();
    std::string answer;
    while (!ReadFileBytes(reply, answer)) {
        if (GetTickCount() - start > kReplyTimeoutMs) {
            error = "no reply to '" + command + "'";
            return false;
        }
        Sleep(20);
    }
    DeleteFileW(reply.c_str());
    if (answer == "ok\n")
        return true;
    error = "'" + command + "': " + answer;
    return false;
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());  // the names here are ASCII
}

}  // namespace

bool CanControlReportServer()
{
    return !ControlFolder().empty();
}

bool StopReportServer(std::string& error)
{
    return SendControlCommand("stop", error);
}

bool StartReportServer(const std::string& options, std::string& error)
{
    return SendControlCommand(options.empty() ? "start" : "start " + options, error);
}

bool SlowDownReportServer(long bytesPerSecond, std::string& error)
{
    return SendControlCommand("slow " + std::to_string(bytesPerSecond), error);
}

std::string ReadSlowLinkLog()
{
    std::string log;
    ReadFileBytes(ControlFolder() + L"\\slow-link.log", log);
    return log;
}

bool ReadStoredReports(std::vector<StoredReport>& reports, std::string& error)
{
    reports.clear();
    if (!SendControlCommand("dump", error))
        return false;
    const std::wstring folder = ControlFolder() + L"\\reports";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return true;  // no report stored
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L".." || !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        StoredReport report;
        report.id = _wtoi(name.c_str());
        WIN32_FIND_DATAW field;
        HANDLE fields = FindFirstFileW((folder + L"\\" + name + L"\\*").c_str(), &field);
        if (fields == INVALID_HANDLE_VALUE)
            continue;
        do {
            if (field.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                continue;
            std::string bytes;
            if (ReadFileBytes(folder + L"\\" + name + L"\\" + field.cFileName, bytes))
                report.fields[Narrow(field.cFileName)] = bytes;
        } while (FindNextFileW(fields, &field));
        FindClose(fields);
        reports.push_back(report);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(reports.begin(), reports.end(), [](const StoredReport& a, const StoredReport& b) { return a.id < b.id; });
    return true;
}
