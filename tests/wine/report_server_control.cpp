#include "tests/wine/report_server_control.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>

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

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL);
    CloseHandle(file);
    return ok && written == bytes.size();
}

bool ReadBytes(const std::wstring& path, std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bytes.clear();
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, NULL) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(file);
    return true;
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
    if (!WriteBytes(pending, command + "\n") ||
        !MoveFileExW(pending.c_str(), (folder + L"\\request").c_str(), MOVEFILE_REPLACE_EXISTING)) {
        error = "cannot write the request '" + command + "'";
        return false;
    }
    const DWORD start = GetTickCount();
    std::string answer;
    while (!ReadBytes(reply, answer)) {
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
            if (ReadBytes(folder + L"\\" + name + L"\\" + field.cFileName, bytes))
                report.fields[Narrow(field.cFileName)] = bytes;
        } while (FindNextFileW(fields, &field));
        FindClose(fields);
        reports.push_back(report);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(reports.begin(), reports.end(), [](const StoredReport& a, const StoredReport& b) { return a.id < b.id; });
    return true;
}
