#include "tests/wine/startup_support.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "res/resource.h"
#include "tests/wine/test_support.h"

const wchar_t kReporterCaption[] = L"Brevora Bug Reporter";
const wchar_t kCrashCaption[] = L"Brevora Crash Reporting Tool";
const wchar_t kOfflineText[] = L"Connect your computer to internet if you want to report a problem.";
const wchar_t kUpdateText[] =
    L"You are not using the latest version of Brevora.\nDo you want to update it before reporting a bug?";

namespace {

const wchar_t kBrevoraKey[] = L"Software\\Brevora";
const wchar_t kWineBrowser[] = L"C:\\windows\\system32\\iexplore.exe";
const wchar_t kWineBrowserAside[] = L"C:\\windows\\system32\\iexplore.exe.moved-by-tests";

std::wstring Widen(const std::string& utf8)
{
    int units = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()), NULL, 0);
    std::wstring wide(units, L'\0');
    if (units > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()), &wide[0], units);
    return wide;
}

std::wstring EnvironmentValue(const wchar_t* name)
{
    WCHAR value[32767];
    DWORD length = GetEnvironmentVariableW(name, value, 32767);
    return (length > 0 && length < 32767) ? std::wstring(value, length) : std::wstring();
}

// The launcher passes Unix paths; Wine shows the Unix root as drive Z:.
std::wstring FromUnixPath(const std::wstring& path)
{
    std::wstring windows = L"Z:" + path;
    std::replace(windows.begin(), windows.end(), L'/', L'\\');
    return windows;
}


void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring full = path + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(full);
            else
                DeleteFileW(full.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

}  // namespace

static std::wstring g_reporterFileName = L"brevora-bugreporter.exe";

std::wstring ReporterPath()
{
    return GetBuiltFile(g_reporterFileName.c_str());
}

void UseReporter(const std::wstring& fileName)
{
    g_reporterFileName = fileName;
}

ScratchFolder::ScratchFolder(const std::wstring& purpose)
{
    WCHAR base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    static unsigned s_counter = 0;
    for (;;) {
        m_path = std::wstring(base) + L"brevora-" + purpose + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                 std::to_wstring(++s_counter);
        if (CreateDirectoryW(m_path.c_str(), NULL))
            break;
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            ADD_FAILURE() << "cannot create " << Narrow(m_path);
            break;
        }
    }
}

ScratchFolder::~ScratchFolder()
{
    RemoveTree(m_path);
}

std::vector<std::wstring> ScratchFolder::FileNames() const
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((m_path + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

void RemoveBrevoraKey()
{
    LONG result = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kBrevoraKey, KEY_WOW64_64KEY, 0);
    ASSERT_TRUE(result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND) << "RegDeleteKeyExW: " << result;
}

static HKEY CreateBrevoraKey()
{
    HKEY key = NULL;
    LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kBrevoraKey, 0, NULL, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                                  NULL, &key, NULL);
    EXPECT_EQ(ERROR_SUCCESS, result) << "RegCreateKeyExW";
    return result == ERROR_SUCCESS ? key : NULL;
}

void SetBrevoraKeyWithoutVersion()
{
    RemoveBrevoraKey();
    HKEY key = CreateBrevoraKey();
    if (key != NULL)
        RegCloseKey(key);
}

void SetInstalledVersion(const std::wstring& version)
{
    RemoveBrevoraKey();
    HKEY key = CreateBrevoraKey();
    if (key == NULL)
        return;
    DWORD bytes = static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t));
    LONG result = RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()), bytes);
    RegCloseKey(key);
    EXPECT_EQ(ERROR_SUCCESS, result) << "RegSetValueExW";
}

static std::wstring ServedPath(const char* name)
{
    return FromUnixPath(EnvironmentValue(L"BREVORA_E2E_SERVER_DATA")) + L"\\" + Widen(name);
}

void ServeFile(const char* name, const std::string& bytes)
{
    RemoveDirectoryW(ServedPath(name).c_str());
    std::ofstream out(ServedPath(name).c_str(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << name << " for the server";
}

void RemoveServedFile(const char* name)
{
    DeleteFileW(ServedPath(name).c_str());
    RemoveDirectoryW(ServedPath(name).c_str());
}

void ServeFolderInstead(const char* name)
{
    RemoveServedFile(name);
    ASSERT_TRUE(CreateDirectoryW(ServedPath(name).c_str(), NULL)) << "cannot make the folder " << name;
}

size_t CountServerRequests(const char* path)
{
    std::istringstream log(ReadFileBytes(FromUnixPath(EnvironmentValue(L"BREVORA_E2E_SERVER_LOG"))));
    size_t count = 0;
    std::string line;
    while (std::getline(log, line)) {
        if (line.find(path) != std::string::npos)
            ++count;
    }
    return count;
}

BrowserStandIn::BrowserStandIn(const ScratchFolder& folder)
    : m_record(folder.Path() + L"\\browser-starts.txt"), m_movedWineBrowser(false)
{
    if (GetFileAttributesW(kWineBrowserAside) != INVALID_FILE_ATTRIBUTES)
        MoveFileExW(kWineBrowserAside, kWineBrowser, MOVEFILE_REPLACE_EXISTING);
    if (GetFileAttributesW(kWineBrowser) != INVALID_FILE_ATTRIBUTES) {
        m_movedWineBrowser = MoveFileExW(kWineBrowser, kWineBrowserAside, MOVEFILE_REPLACE_EXISTING) != FALSE;
        EXPECT_TRUE(m_movedWineBrowser) << "cannot move Wine's iexplore.exe aside: " << GetLastError();
    }
}

BrowserStandIn::~BrowserStandIn()
{
    if (m_movedWineBrowser)
        MoveFileExW(kWineBrowserAside, kWineBrowser, MOVEFILE_REPLACE_EXISTING);
}

EnvironmentChanges BrowserStandIn::Environment() const
{
    std::wstring standInFolder = GetBuiltFile(L"browser-standin");
    return { { L"PATH", standInFolder + L";" + EnvironmentValue(L"PATH") }, { L"BREVORA_BROWSER_RECORD", m_record } };
}

std::vector<std::vector<std::wstring>> BrowserStandIn::Starts() const
{
    std::vector<std::vector<std::wstring>> starts;
    std::istringstream record(ReadFileBytes(m_record));
    std::string line;
    while (std::getline(record, line)) {
        if (line == "start")
            starts.emplace_back();
        else if (line.compare(0, 4, "arg ") == 0 && !starts.empty())
            starts.back().push_back(Widen(line.substr(4)));
    }
    return starts;
}

EnvironmentChanges ReporterEnvironment(const std::wstring& tempFolder)
{
    // The queries use the system's proxy settings; a proxy from the
    // environment must not carry loopback requests away.
    return { { L"TMP", tempFolder }, { L"TEMP", tempFolder },
             { L"http_proxy", L"" }, { L"HTTP_PROXY", L"" }, { L"https_proxy", L"" }, { L"HTTPS_PROXY", L"" },
             { L"all_proxy", L"" }, { L"ALL_PROXY", L"" } };
}

::testing::AssertionResult IsMessageBoxWith(UserDriver& driver, HWND box, const std::wstring& text,
                                            const std::vector<int>& buttonIds)
{
    if (box == NULL)
        return ::testing::AssertionFailure() << "no message box\n" << driver.Report();
    WindowSnapshot s = driver.Read(box);
    std::vector<int> ids;
    for (const ButtonState& b : s.buttons)
        ids.push_back(b.id);
    std::sort(ids.begin(), ids.end());
    std::vector<int> expectedIds = buttonIds;
    std::sort(expectedIds.begin(), expectedIds.end());
    if (s.caption != kReporterCaption || s.messageText != text || ids != expectedIds || !s.hasIcon) {
        std::string buttons;
        for (const ButtonState& b : s.buttons)
            buttons += " " + std::to_string(b.id) + "'" + Narrow(b.text) + "'";
        return ::testing::AssertionFailure()
               << "caption '" << Narrow(s.caption) << "', text '" << Narrow(s.messageText) << "', buttons" << buttons
               << (s.hasIcon ? ", icon" : ", no icon") << "\n" << driver.Report();
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult ShowedWaitBoxThenForm(const UserDriver& driver)
{
    std::vector<std::wstring> expected = { L"#32770 ''", std::wstring(L"#32770 '") + kReporterCaption + L"'" };
    if (driver.ShownWindows() == expected)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "expected the wait box, then the form\n" << driver.Report();
}

// Runs the reporter with an installed version and expects it to go on to
// the form without an update box; returns the seconds that took.
double ExpectFormWithoutUpdateBox(DWORD timeoutMs)
{
    SetInstalledVersion(L"1.0");
    ScratchFolder temp(L"noserver");
    UserDriver driver;
    DWORD start = GetTickCount();
    EXPECT_TRUE(driver.Start(ReporterPath(), L"", ReporterEnvironment(temp.Path())));
    HWND form = driver.WaitForDialog(kReporterCaption, IDC_SEND, timeoutMs);
    double seconds = (GetTickCount() - start) / 1000.0;
    RemoveBrevoraKey();
    EXPECT_NE(static_cast<HWND>(NULL), form) << driver.Report();
    if (form == NULL)
        return seconds;
    EXPECT_TRUE(ShowedWaitBoxThenForm(driver));
    EXPECT_TRUE(driver.Click(form, IDC_CANCEL));
    EXPECT_TRUE(driver.WaitForExit(kExitTimeoutMs)) << driver.Report();
    EXPECT_EQ(0u, driver.ExitCode());
    return seconds;
}

