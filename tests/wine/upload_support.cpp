#include "tests/wine/upload_support.h"

#include <wincrypt.h>
#include <userenv.h>

#include <vector>

#include "res/resource.h"

std::wstring AppLogPath()
{
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return std::wstring();
    WCHAR directory[1024] = L"";
    DWORD length = 1024;
    BOOL ok = GetUserProfileDirectoryW(token, directory, &length);
    CloseHandle(token);
    return ok ? std::wstring(directory) + L"\\.brevora\\brevora.log" : std::wstring();
}

static std::wstring AppLogFolder()
{
    std::wstring path = AppLogPath();
    return path.substr(0, path.rfind(L'\\'));
}

static void RemoveAppLog()
{
    DeleteFileW(AppLogPath().c_str());
    RemoveDirectoryW(AppLogFolder().c_str());
}

AppLog::AppLog()
{
    RemoveAppLog();
}

AppLog::AppLog(const std::string& bytes)
{
    CreateDirectoryW(AppLogFolder().c_str(), NULL);
    EXPECT_TRUE(WriteFileBytes(AppLogPath(), bytes)) << "cannot write the application log";
}

AppLog::~AppLog()
{
    RemoveAppLog();
}

std::string Ansi(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), NULL, 0, NULL, NULL);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size, NULL, NULL);
    return out;
}

std::string SystemBase64(const std::string& bytes)
{
    if (bytes.empty())
        return std::string();
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    DWORD size = 0;
    const BYTE* data = reinterpret_cast<const BYTE*>(bytes.data());
    if (!CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), flags, NULL, &size))
        return "<no base64>";
    std::vector<char> text(size + 1, '\0');
    if (!CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), flags, text.data(), &size))
        return "<no base64>";
    return std::string(text.data());
}

std::string SystemInfoFromProfile(const FormRun& run)
{
    std::string bytes;
    if (!ReadFileBytes(run.ProfilePath(), bytes))
        return "<no profile>";
    std::string joined;
    bool inSection = false;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] == '[') {
            inSection = line == "[System Information]";
            continue;
        }
        if (!inSection || line.empty())
            continue;
        if (!joined.empty())
            joined += '\n';
        joined += line;
    }
    return joined;
}

void AddSystemInfoEntry(const FormRun& run, const wchar_t* key, const wchar_t* value)
{
    EXPECT_TRUE(WritePrivateProfileStringW(L"System Information", key, value, run.ProfilePath().c_str()));
}

::testing::AssertionResult FillForm(FormRun& run, const std::wstring& steps, const std::wstring& happened,
                                    const std::wstring& shouldHappen, const std::wstring& email)
{
    struct Field
    {
        int id;
        const std::wstring* text;
    } fields[] = { { IDC_STEPS, &steps }, { IDC_HAPPENED, &happened }, { IDC_SHOULDHAPPEN, &shouldHappen } };
    for (const Field& field : fields) {
        // Enter arrives as a carriage return; the edit keeps CR LF.
        std::wstring shown;
        for (wchar_t c : *field.text) {
            shown += c;
            if (c == L'\r')
                shown += L'\n';
        }
        ::testing::AssertionResult described = run.Describe(field.id, *field.text, shown);
        if (!described)
            return described;
    }
    if (email.empty())
        return ::testing::AssertionSuccess();
    UserDriver& driver = run.Driver();
    if (!driver.Click(run.Form(), IDC_ALLOWCONTACT) || !driver.WaitForText(run.Form(), IDC_EMAIL, L"", 5000) ||
        !driver.Type(run.Form(), IDC_EMAIL, email) || !driver.WaitForText(run.Form(), IDC_EMAIL, email, 5000))
        return ::testing::AssertionFailure() << "cannot give the address\n" << driver.Report();
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult IsThanksBox(UserDriver& driver, HWND box)
{
    if (box == NULL)
        return ::testing::AssertionFailure() << "no box\n" << driver.Report();
    WindowSnapshot s = driver.Read(box);
    if (s.caption != kReporterCaption || s.messageText != L"Thanks for your bug report." || s.hasIcon ||
        s.buttons.size() != 1 || s.buttons[0].id != IDOK)
        return ::testing::AssertionFailure() << "not the thank-you box: '" << Narrow(s.messageText) << "'"
                                             << (s.hasIcon ? " with an icon" : "") << "\n" << driver.Report();
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult IsFailureBox(UserDriver& driver, HWND box, HWND form)
{
    ::testing::AssertionResult shape = IsMessageBoxWith(
        driver, box, L"Your bug report could not be sent to the Brevora developers.\nDo you want to try again?",
        { IDRETRY, IDCANCEL });
    if (!shape)
        return shape;
    if (GetWindow(box, GW_OWNER) != form)
        return ::testing::AssertionFailure() << "the failure box is not owned by the form";
    return ::testing::AssertionSuccess();
}

void AcknowledgeThanks(UserDriver& driver, HWND box)
{
    ASSERT_TRUE(driver.Click(box, IDOK));
    ASSERT_TRUE(driver.WaitForExit(kExitTimeoutMs)) << driver.Report();
    EXPECT_EQ(0u, driver.ExitCode());
}

std::vector<StoredReport> StoredReports()
{
    std::vector<StoredReport> reports;
    std::string error;
    EXPECT_TRUE(ReadStoredReports(reports, error)) << error;
    return reports;
}

std::string Utf8(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), NULL, 0, NULL, NULL);
    std::string bytes(static_cast<size_t>(size), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], size, NULL, NULL);
    return bytes;
}

std::wstring ReadBugReportValue(const FormRun& run, const std::wstring& key)
{
    for (const auto& entry : run.Section(L"Bug Report")) {
        if (entry.first == key)
            return entry.second;
    }
    return std::wstring();
}

std::string ShowStoredReport(int id)
{
    std::string shown, error;
    EXPECT_TRUE(ShowReport(id, shown, error)) << error;
    return shown;
}
