// Stand-in for the browser, built as iexplore.exe: records how it was started
// into the file named by BREVORA_BROWSER_RECORD and shows nothing.
#include <windows.h>
#include <shellapi.h>

#include <string>

static std::string ToUtf8(const std::wstring& text)
{
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), NULL, 0, NULL, NULL);
    std::string utf8(bytes, '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], bytes, NULL, NULL);
    return utf8;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    WCHAR recordPath[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"BREVORA_BROWSER_RECORD", recordPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 0;

    // One record per start: the whole command line, then each argument.
    const WCHAR* commandLine = GetCommandLineW();
    std::wstring record = L"start\ncommand-line " + std::wstring(commandLine) + L"\n";
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(commandLine, &argc);
    if (argv != NULL) {
        record += L"argc " + std::to_wstring(argc - 1) + L"\n";
        for (int i = 1; i < argc; ++i)
            record += L"arg " + std::wstring(argv[i]) + L"\n";
        LocalFree(argv);
    }
    std::string bytes = ToUtf8(record);

    HANDLE file = CreateFileW(recordPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL);
    CloseHandle(file);
    return ok ? 0 : 1;
}
