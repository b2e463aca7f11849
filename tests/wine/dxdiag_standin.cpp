// Stand-in for the DirectX diagnostic tool, put at its fixed path by the
// tests. Started as "dxdiag.exe /t <report path>", it does what the variables
// of its environment ask:
//   DXDIAG_STANDIN_RECORD     file that each start appends its record to
//   DXDIAG_STANDIN_REPORT     file whose bytes become the report; without it
//                             the report stays empty
//   DXDIAG_STANDIN_LINGER_MS  time to stay before writing and ending
//   DXDIAG_STANDIN_DELAY_MS   the report is written this long after the
//                             stand-in has ended, by a copy of itself
//   DXDIAG_STANDIN_UNREADABLE "1": a folder takes the report file's place
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

const WCHAR kLateWriteSwitch[] = L"--write-later";
const WCHAR kTargetVariable[] = L"DXDIAG_STANDIN_TARGET";

std::wstring Variable(const WCHAR* name)
{
    std::vector<WCHAR> value(32767);
    DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    return (length > 0 && length < value.size()) ? std::wstring(value.data(), length) : std::wstring();
}

DWORD VariableNumber(const WCHAR* name)
{
    std::wstring text = Variable(name);
    return text.empty() ? 0 : static_cast<DWORD>(wcstoul(text.c_str(), NULL, 10));
}

std::string ToUtf8(const std::wstring& text)
{
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), NULL, 0, NULL, NULL);
    std::string utf8(bytes, '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], bytes, NULL, NULL);
    return utf8;
}

void Record(const std::wstring& line)
{
    std::wstring path = Variable(L"DXDIAG_STANDIN_RECORD");
    if (path.empty())
        return;
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string bytes = ToUtf8(line + L"\n");
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL);
    CloseHandle(file);
}

std::string ReadWholeFile(const std::wstring& path)
{
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, NULL) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

// The whole report in one write, so that no check of its size finds it half written.
void WriteReport(const std::wstring& target)
{
    std::string bytes = ReadWholeFile(Variable(L"DXDIAG_STANDIN_REPORT"));
    HANDLE file = CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        Record(L"cannot open the report, error " + std::to_wstring(GetLastError()));
        return;
    }
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL);
    CloseHandle(file);
    Record(L"wrote " + std::to_wstring(written) + L" at " + std::to_wstring(GetTickCount()));
}

// The report's path: everything after "/t " behind the program's name.
std::wstring TargetOf(const WCHAR* commandLine)
{
    const WCHAR* p = commandLine;
    if (*p == L'"') {
        p = wcschr(p + 1, L'"');
        p = (p == NULL) ? commandLine + wcslen(commandLine) : p + 1;
    } else {
        while (*p != L'\0' && *p != L' ' && *p != L'\t')
            ++p;
    }
    while (*p == L' ' || *p == L'\t')
        ++p;
    return wcsncmp(p, L"/t ", 3) == 0 ? std::wstring(p + 3) : std::wstring();
}

// Leaves a copy of itself to write the report later, and returns at once.
void StartLateWriter(const std::wstring& target)
{
    WCHAR self[MAX_PATH];
    GetModuleFileNameW(NULL, self, MAX_PATH);
    std::wstring line = std::wstring(L"\"") + self + L"\" " + kLateWriteSwitch;
    std::vector<WCHAR> mutableLine(line.begin(), line.end());
    mutableLine.push_back(L'\0');
    SetEnvironmentVariableW(kTargetVariable, target.c_str());
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(self, mutableLine.data(), NULL, NULL, FALSE, DETACHED_PROCESS, NULL, NULL, &si, &pi)) {
        Record(L"cannot start the late writer, error " + std::to_wstring(GetLastError()));
        return;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const WCHAR* commandLine = GetCommandLineW();
    if (wcsstr(commandLine, kLateWriteSwitch) != NULL) {
        Sleep(VariableNumber(L"DXDIAG_STANDIN_DELAY_MS"));
        WriteReport(Variable(kTargetVariable));
        return 0;
    }

    WCHAR directory[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, directory);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);
    const std::wstring target = TargetOf(commandLine);
    Record(L"start at " + std::to_wstring(GetTickCount()));
    Record(L"command-line " + std::wstring(commandLine));
    Record(L"target " + target);
    Record(L"directory " + std::wstring(directory));
    Record(L"show " + std::to_wstring((startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1));

    Sleep(VariableNumber(L"DXDIAG_STANDIN_LINGER_MS"));

    if (Variable(L"DXDIAG_STANDIN_UNREADABLE") == L"1") {
        DeleteFileW(target.c_str());
        CreateDirectoryW(target.c_str(), NULL);
    } else if (!Variable(L"DXDIAG_STANDIN_REPORT").empty()) {
        if (VariableNumber(L"DXDIAG_STANDIN_DELAY_MS") > 0)
            StartLateWriter(target);
        else
            WriteReport(target);
    }
    Record(L"end at " + std::to_wstring(GetTickCount()));
    return 0;
}
