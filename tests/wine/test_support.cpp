#include "tests/wine/test_support.h"

#include <vector>

std::wstring GetExeDir()
{
    WCHAR path[MAX_PATH];
    DWORD len = GetModuleFileNameW(NULL, path, MAX_PATH);
    std::wstring dir(path, len);
    size_t slash = dir.find_last_of(L"\\/");
    return dir.substr(0, slash + 1);
}

std::wstring GetBuiltFile(const wchar_t* name)
{
    return GetExeDir() + name;
}

namespace {

// Closes a handle when it goes out of scope.
struct HandleGuard
{
    HANDLE h;
    explicit HandleGuard(HANDLE handle = NULL) : h(handle) {}
    ~HandleGuard() { if (h != NULL && h != INVALID_HANDLE_VALUE) CloseHandle(h); }
    HandleGuard(const HandleGuard&) = delete;
    HandleGuard& operator=(const HandleGuard&) = delete;
};

}  // namespace

bool ReadFileBytes(const std::wstring& path, std::string& bytes)
{
    HandleGuard file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 NULL, OPEN_EXISTING, 0, NULL));
    if (file.h == INVALID_HANDLE_VALUE)
        return false;
    bytes.clear();
    std::vector<char> buffer(1 << 16);
    DWORD got = 0;
    while (ReadFile(file.h, buffer.data(), static_cast<DWORD>(buffer.size()), &got, NULL) && got > 0)
        bytes.append(buffer.data(), got);
    return true;
}

std::string ReadFileBytes(const std::wstring& path)
{
    std::string bytes;
    ReadFileBytes(path, bytes);
    return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    HandleGuard file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL));
    if (file.h == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file.h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL);
    return ok && written == bytes.size();
}

bool RunAndCapture(const std::wstring& applicationPath, const std::string& commandLine,
                   std::string& output, DWORD& exitCode, DWORD timeoutMs)
{
    SECURITY_ATTRIBUTES sa = { sizeof(sa), NULL, TRUE };
    HANDLE readEnd = NULL, writeEnd = NULL;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0))
        return false;
    HandleGuard readGuard(readEnd), writeGuard(writeEnd);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    // CreateProcessA may write into the command line: hand it a copy.
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');

    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);

    int cb = WideCharToMultiByte(CP_ACP, 0, applicationPath.c_str(), -1, NULL, 0, NULL, NULL);
    std::string app(cb, '\0');
    WideCharToMultiByte(CP_ACP, 0, applicationPath.c_str(), -1, &app[0], cb, NULL, NULL);

    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(app.c_str(), line.data(), NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi))
        return false;
    HandleGuard process(pi.hProcess), thread(pi.hThread);
    CloseHandle(writeGuard.h);
    writeGuard.h = NULL;

    output.clear();
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof(buffer), &got, NULL) && got > 0)
        output.append(buffer, got);

    if (WaitForSingleObject(pi.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 1);
        return false;
    }
    GetExitCodeProcess(pi.hProcess, &exitCode);
    return true;
}
