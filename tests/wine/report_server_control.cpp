#include "tests/wine/report_server_control.h"

#include "tests/wine/test_support.h"

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "build_settings.h"

namespace {

const DWORD kServerTimeoutMs = 30000;

std::string EnvironmentValue(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// Wine shows the Unix root as drive Z:.
std::wstring WindowsPath(const std::string& unixPath)
{
    std::wstring path = L"Z:" + std::wstring(unixPath.begin(), unixPath.end());  // the paths here are ASCII
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

// One word for /bin/sh, whatever it holds.
std::string Quoted(const std::string& word)
{
    std::string quoted = "'";
    for (char c : word)
        quoted += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The processes a test starts: the server, and the slow line before it.
struct BackgroundProcess
{
    const char* pidFile;  // in the work folder
    std::string marker;   // in its command line, NUL-separated arguments
};

const BackgroundProcess kServer = { "server.pid", std::string("serve\0--data", 12) };
const BackgroundProcess kSlowLink = { "link.pid", "slow_link.py" };

std::string WorkPath(const char* name)
{
    return EnvironmentValue("BREVORA_E2E_WORK") + "/" + name;
}

// The pid of the process this test started last, 0 when none.
unsigned long PidOf(const BackgroundProcess& process)
{
    std::string text;
    if (!ReadFileBytes(WindowsPath(WorkPath(process.pidFile)), text))
        return 0;
    return std::strtoul(text.c_str(), nullptr, 10);
}

std::wstring ProcessFolder(unsigned long pid)
{
    return L"Z:\\proc\\" + std::to_wstring(pid);
}

bool ProcessRuns(unsigned long pid)
{
    return pid != 0 && GetFileAttributesW(ProcessFolder(pid).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The process still runs under its pid (and the number has not gone to
// another program since).
bool StillRuns(const BackgroundProcess& process, unsigned long pid)
{
    std::string commandLine;
    return ProcessRuns(pid) && ReadFileBytes(ProcessFolder(pid) + L"\\cmdline", commandLine) &&
           commandLine.find(process.marker) != std::string::npos;
}

// Waits until done() holds, looking again whenever the folder changes and at
// least every 100 ms (a change made outside Wine may go unnoticed).
template <typename Condition>
bool WaitInFolder(const std::wstring& folder, Condition done, DWORD timeoutMs)
{
    HANDLE change = FindFirstChangeNotificationW(folder.c_str(), FALSE,
                                                 FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE |
                                                     FILE_NOTIFY_CHANGE_LAST_WRITE);
    const DWORD start = GetTickCount();
    bool met = done();
    while (!met && GetTickCount() - start < timeoutMs) {
        if (change != INVALID_HANDLE_VALUE) {
            WaitForSingleObject(change, 100);
            FindNextChangeNotification(change);
        } else {
            Sleep(20);
        }
        met = done();
    }
    if (change != INVALID_HANDLE_VALUE)
        FindCloseChangeNotification(change);
    return met;
}

// True once a connection to the port is taken.
bool AcceptsConnections(int port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return false;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool accepted = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    closesocket(s);
    return accepted;
}

std::string LogTail()
{
    std::string log = ReadFileBytes(WindowsPath(EnvironmentValue("BREVORA_E2E_SERVER_LOG")));
    return log.size() > 600 ? log.substr(log.size() - 600) : log;
}

// Every stored report as OUTDIR/ID/FIELD, byte for byte.
std::string ExportAllCommand(const std::string& outFolder)
{
    return Quoted(EnvironmentValue("BREVORA_E2E_SERVER")) + " export --data " +
           Quoted(EnvironmentValue("BREVORA_E2E_SERVER_DATA")) + " --all " + Quoted(outFolder);
}

struct WinsockUser
{
    WinsockUser() { WSADATA data; WSAStartup(MAKEWORD(2, 2), &data); }
    ~WinsockUser() { WSACleanup(); }
};

}  // namespace

bool HaveReportServer()
{
    return !EnvironmentValue("BREVORA_E2E_SERVER").empty() && !EnvironmentValue("BREVORA_E2E_WORK").empty();
}

bool RunUnixShell(const std::string& script, int& status, std::string& error, unsigned long timeoutMs)
{
    static unsigned s_runs = 0;
    const std::string folder = EnvironmentValue("BREVORA_E2E_WORK") + "/run-" + std::to_string(++s_runs);
    const std::wstring windowsFolder = WindowsPath(folder);
    if (!CreateDirectoryW(windowsFolder.c_str(), NULL)) {
        error = "cannot create " + folder;
        return false;
    }
    // Its output goes to a file; the file "status" appears whole at its end.
    const std::string wrapped = "PATH=/usr/local/bin:/usr/bin:/bin; (" + script + ") >" + Quoted(folder + "/output") +
                                " 2>&1 </dev/null; echo $? >" + Quoted(folder + "/status.tmp") + "; mv " +
                                Quoted(folder + "/status.tmp") + " " + Quoted(folder + "/status");
    if (wrapped.find('"') != std::string::npos) {
        error = "a double quote in the script: " + script;
        return false;
    }
    std::wstring commandLine = L"/bin/sh -c \"" + std::wstring(wrapped.begin(), wrapped.end()) + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(L"Z:\\bin\\sh", &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
        error = "cannot start /bin/sh: " + std::to_string(GetLastError());
        return false;
    }
    if (pi.hProcess != NULL)
        CloseHandle(pi.hProcess);
    if (pi.hThread != NULL)
        CloseHandle(pi.hThread);
    const std::wstring statusFile = windowsFolder + L"\\status";
    if (!WaitInFolder(windowsFolder, [&] { return GetFileAttributesW(statusFile.c_str()) != INVALID_FILE_ATTRIBUTES; },
                      timeoutMs)) {
        error = "no end of '" + script + "' within " + std::to_string(timeoutMs) + " ms";
        return false;
    }
    status = std::atoi(ReadFileBytes(statusFile).c_str());
    if (status != 0)
        error = "'" + script + "' ended with " + std::to_string(status) + ": " + ReadFileBytes(windowsFolder + L"\\output");
    return true;
}

// Ends a process the test started and waits for its end.
static bool EndProcess(const BackgroundProcess& process, std::string& error)
{
    const unsigned long pid = PidOf(process);
    if (!StillRuns(process, pid))
        return true;
    int status = 0;
    if (!RunUnixShell("kill " + std::to_string(pid), status, error))
        return false;
    // Ended, init takes it over (Wine's children are init's); it is gone
    // from /proc then.
    const DWORD start = GetTickCount();
    while (ProcessRuns(pid)) {
        if (GetTickCount() - start > kServerTimeoutMs) {
            error = std::string("the process of ") + process.pidFile + " (" + std::to_string(pid) + ") does not end";
            return false;
        }
        Sleep(10);
    }
    return true;
}

// Starts "exec command" in the background and returns once it takes
// connections on port.
static bool StartProcess(const BackgroundProcess& process, const std::string& command, int port, std::string& error)
{
    const std::string pidFile = WorkPath(process.pidFile);
    DeleteFileW(WindowsPath(pidFile).c_str());
    // The shell writes its pid, then becomes the program; nothing of Wine
    // waits for it, so it starts in the background and this returns at once.
    const std::string script = "echo $$ >" + Quoted(pidFile) + "; exec " + command + " </dev/null >/dev/null 2>>" +
                               Quoted(EnvironmentValue("BREVORA_E2E_SERVER_LOG"));
    int status = 0;
    if (!RunUnixShell("/bin/sh -c " + Quoted(script) + " &", status, error))
        return false;
    const std::wstring work = WindowsPath(EnvironmentValue("BREVORA_E2E_WORK"));
    if (!WaitInFolder(work, [&process] { return PidOf(process) != 0; }, kServerTimeoutMs)) {
        error = std::string("no start for ") + process.pidFile;
        return false;
    }
    const unsigned long pid = PidOf(process);
    WinsockUser winsock;
    const DWORD start = GetTickCount();
    while (!AcceptsConnections(port)) {
        if (!ProcessRuns(pid)) {
            error = "ended at once: " + LogTail();
            return false;
        }
        if (GetTickCount() - start > kServerTimeoutMs) {
            error = "nothing listens on " + std::to_string(port) + ": " + LogTail();
            return false;
        }
        Sleep(10);
    }
    return true;
}

static bool StartServerOn(int port, const std::string& options, std::string& error)
{
    if (!HaveReportServer()) {
        error = "no report server: run through with_report_server.sh";
        return false;
    }
    if (!StopReportServer(error))
        return false;
    const std::string command = Quoted(EnvironmentValue("BREVORA_E2E_SERVER")) + " serve --data " +
                                Quoted(EnvironmentValue("BREVORA_E2E_SERVER_DATA")) + " --listen 127.0.0.1:" +
                                std::to_string(port) + " --no-admin" + (options.empty() ? "" : " " + options);
    if (!StartProcess(kServer, command, port, error)) {
        error = "the server: " + error;
        return false;
    }
    return true;
}

bool StopReportServer(std::string& error)
{
    return EndProcess(kSlowLink, error) && EndProcess(kServer, error);
}

bool StartReportServer(const std::string& options, std::string& error)
{
    return StartServerOn(BREVORA_REPORT_SERVER_PORT, options, error);
}

bool SlowDownReportServer(long bytesPerSecond, std::string& error, bool loseFirstAnswer)
{
    const int port = BREVORA_REPORT_SERVER_PORT;
    if (!StartServerOn(port + 1, "", error))
        return false;
    const std::string command = "/usr/bin/python3 " + Quoted(EnvironmentValue("BREVORA_E2E_SLOW_LINK")) + " " +
                                std::to_string(port) + " " + std::to_string(port + 1) + " " +
                                std::to_string(bytesPerSecond) + " " + Quoted(WorkPath("slow-link.log")) +
                                (loseFirstAnswer ? " --lose-first-answer" : "");
    if (!StartProcess(kSlowLink, command, port, error)) {
        error = "the slow line: " + error;
        return false;
    }
    return true;
}

std::string ReadSlowLinkLog()
{
    return ReadFileBytes(WindowsPath(WorkPath("slow-link.log")));
}

bool ShowReport(int id, std::string& shown, std::string& error)
{
    static unsigned s_shows = 0;
    const std::string out = EnvironmentValue("BREVORA_E2E_WORK") + "/show-" + std::to_string(++s_shows);
    const std::string command = Quoted(EnvironmentValue("BREVORA_E2E_SERVER")) + " show --data " +
                                Quoted(EnvironmentValue("BREVORA_E2E_SERVER_DATA")) + " " + std::to_string(id) +
                                " > " + Quoted(out);
    int status = 0;
    if (!RunUnixShell(command, status, error) || status != 0)
        return false;
    if (!ReadFileBytes(WindowsPath(out), shown)) {
        error = "cannot read " + out;
        return false;
    }
    return true;
}

bool ReadStoredReports(std::vector<StoredReport>& reports, std::string& error)
{
    reports.clear();
    static unsigned s_dumps = 0;
    const std::string out = EnvironmentValue("BREVORA_E2E_WORK") + "/reports-" + std::to_string(++s_dumps);
    int status = 0;
    if (!RunUnixShell(ExportAllCommand(out), status, error) || status != 0)
        return false;
    const std::wstring folder = WindowsPath(out);
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
            const std::wstring fieldName = field.cFileName;
            if (ReadFileBytes(folder + L"\\" + name + L"\\" + fieldName, bytes))
                report.fields[std::string(fieldName.begin(), fieldName.end())] = bytes;  // ASCII names
        } while (FindNextFileW(fields, &field));
        FindClose(fields);
        reports.push_back(report);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(reports.begin(), reports.end(), [](const StoredReport& a, const StoredReport& b) { return a.id < b.id; });
    return true;
}
