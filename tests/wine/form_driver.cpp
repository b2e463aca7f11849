#include "tests/wine/form_driver.h"

#include <algorithm>
#include <cwchar>

#include "res/resource.h"

FormRun::FormRun(const std::wstring& purpose) : m_temp(purpose), m_form(NULL) {}

HWND FormRun::Start(const EnvironmentChanges& extra)
{
    if (m_installedVersion.empty())
        RemoveBrevoraKey();
    else
        SetInstalledVersion(m_installedVersion);
    EnvironmentChanges env = ReporterEnvironment(m_temp.Path());
    env.insert(env.end(), extra.begin(), extra.end());
    if (!m_driver.Start(ReporterPath(), L"", env))
        return NULL;
    m_form = m_driver.WaitForDialog(kReporterCaption, IDC_SEND, kWindowTimeoutMs);
    return m_form;
}

std::vector<std::wstring> FormRun::TempFiles() const
{
    std::vector<std::wstring> files;
    for (const std::wstring& name : m_temp.FileNames()) {
        if (name.size() > 3 && name.compare(0, 3, L"KRP") == 0)
            files.push_back(name);
    }
    // By unique number: the system may wrap around, but not within a run.
    std::sort(files.begin(), files.end(), [](const std::wstring& a, const std::wstring& b) {
        return std::wcstoul(a.c_str() + 3, NULL, 16) < std::wcstoul(b.c_str() + 3, NULL, 16);
    });
    return files;
}

std::wstring FormRun::ProfilePath() const
{
    std::vector<std::wstring> files = TempFiles();
    return files.size() >= 1 ? m_temp.Path() + L"\\" + files[0] : std::wstring();
}

std::wstring FormRun::DxDiagPath() const
{
    std::vector<std::wstring> files = TempFiles();
    return files.size() >= 2 ? m_temp.Path() + L"\\" + files[1] : std::wstring();
}

ProfileEntries FormRun::Section(const wchar_t* section) const
{
    ProfileEntries entries;
    const std::wstring path = ProfilePath();
    if (path.empty())
        return entries;
    std::vector<WCHAR> block(1 << 20);
    DWORD units = GetPrivateProfileSectionW(section, block.data(), static_cast<DWORD>(block.size()), path.c_str());
    for (const WCHAR* p = block.data(); p < block.data() + units && *p != L'\0'; p += wcslen(p) + 1) {
        std::wstring entry(p);
        size_t equals = entry.find(L'=');
        if (equals == std::wstring::npos)
            entries.push_back({ entry, L"" });
        else
            entries.push_back({ entry.substr(0, equals), entry.substr(equals + 1) });
    }
    return entries;
}

::testing::AssertionResult FormRun::Describe(int id, const std::wstring& typed, const std::wstring& shown)
{
    if (!ClickInto(m_driver, m_form, id) || !m_driver.Type(m_form, id, typed))
        return ::testing::AssertionFailure() << "cannot click into or type into " << id;
    if (!m_driver.WaitForText(m_form, id, shown, 5000))
        return ::testing::AssertionFailure() << "control " << id << " does not show the text\n" << m_driver.Report();
    return ::testing::AssertionSuccess();
}

HWND FormRun::SendAndWaitForBox(DWORD timeoutMs)
{
    if (!m_driver.Click(m_form, IDC_SEND))
        return NULL;
    return m_driver.WaitForMessageBox(kReporterCaption, timeoutMs);
}

bool ClickInto(UserDriver& driver, HWND dialog, int controlId)
{
    HWND control = GetDlgItem(dialog, controlId);
    driver.Note(L"click into " + std::to_wstring(controlId));
    if (control == NULL)
        return false;
    const LPARAM at = MAKELPARAM(3, 3);
    return PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, at) && PostMessageW(control, WM_LBUTTONUP, 0, at);
}

bool PressKey(UserDriver& driver, HWND dialog, int controlId, UINT virtualKey)
{
    HWND control = GetDlgItem(dialog, controlId);
    driver.Note(L"key " + std::to_wstring(virtualKey) + L" in " + std::to_wstring(controlId));
    if (control == NULL)
        return false;
    const UINT scan = MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
    return PostMessageW(control, WM_KEYDOWN, virtualKey, 1 | (scan << 16)) &&
           PostMessageW(control, WM_KEYUP, virtualKey, 1 | (scan << 16) | (3u << 30));
}

bool WaitUntilHandled(HWND dialog, DWORD timeoutMs)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result) != 0;
}

int FocusedControlId(HWND dialog)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, NULL), &info) || info.hwndFocus == NULL)
        return 0;
    return GetDlgCtrlID(info.hwndFocus);
}

bool WaitForFocus(HWND dialog, int controlId, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (FocusedControlId(dialog) != controlId) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
}

bool IsReadOnly(HWND dialog, int controlId)
{
    return (GetWindowLongW(GetDlgItem(dialog, controlId), GWL_STYLE) & ES_READONLY) != 0;
}

bool IsEnabled(HWND dialog, int controlId)
{
    return IsWindowEnabled(GetDlgItem(dialog, controlId)) != FALSE;
}

std::wstring ReadControl(HWND dialog, int controlId)
{
    return ReadWindowText(GetDlgItem(dialog, controlId));
}

std::vector<std::wstring> ReadComboItems(HWND dialog, int controlId)
{
    std::vector<std::wstring> items;
    HWND combo = GetDlgItem(dialog, controlId);
    DWORD_PTR count = 0;
    if (!SendMessageTimeoutW(combo, CB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count))
        return items;
    for (DWORD_PTR i = 0; i < count && static_cast<LONG_PTR>(count) > 0; ++i) {
        DWORD_PTR length = 0;
        SendMessageTimeoutW(combo, CB_GETLBTEXTLEN, i, 0, SMTO_ABORTIFHUNG, 5000, &length);
        std::vector<WCHAR> text(length + 1, L'\0');
        DWORD_PTR copied = 0;
        SendMessageTimeoutW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, 5000,
                            &copied);
        items.push_back(std::wstring(text.data(), std::min<size_t>(copied, length)));
    }
    return items;
}

int ReadComboSelection(HWND dialog, int controlId)
{
    DWORD_PTR selection = 0;
    SendMessageTimeoutW(GetDlgItem(dialog, controlId), CB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 5000, &selection);
    return static_cast<int>(static_cast<LONG_PTR>(selection));
}

std::string DescribeEntries(const ProfileEntries& entries)
{
    std::string text = "[";
    for (const auto& entry : entries)
        text += " " + Narrow(entry.first) + "='" + Narrow(entry.second) + "'";
    return text + " ]";
}

ProfileEntries FormRun::BugReportSection() const
{
    ProfileEntries entries = Section(L"Bug Report");
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [](const ProfileEntries::value_type& entry) { return entry.first == L"Version"; }),
                  entries.end());
    return entries;
}

::testing::AssertionResult WaitForBugReportSection(const FormRun& run, const ProfileEntries& expected,
                                                   DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    ProfileEntries current;
    for (;;) {
        current = run.BugReportSection();
        if (current == expected)
            return ::testing::AssertionSuccess();
        if (GetTickCount() - start > timeoutMs)
            break;
        Sleep(20);
    }
    return ::testing::AssertionFailure() << "[Bug Report] is " << DescribeEntries(current) << ", expected "
                                         << DescribeEntries(expected);
}

