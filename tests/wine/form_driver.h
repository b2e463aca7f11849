// The bug-report form from its user's side: the reporter started up to the
// form in a temporary folder of its own, clicks into controls, keys, the
// component list, the focus, and the report profile on disk.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/wine/startup_support.h"

typedef std::vector<std::pair<std::wstring, std::wstring>> ProfileEntries;

// One run of the reporter, started without an installed version (so no
// version check) and its temporary files in a scratch folder.
class FormRun
{
public:
    explicit FormRun(const std::wstring& purpose);
    FormRun(const FormRun&) = delete;
    FormRun& operator=(const FormRun&) = delete;

    // The registry's installed version for Start (none by default); the
    // server must then publish the same latest version, or the update offer
    // comes first.
    void UseInstalledVersion(const std::wstring& version) { m_installedVersion = version; }
    // Starts the reporter and waits for the form; NULL when it does not come.
    HWND Start(const EnvironmentChanges& extra = EnvironmentChanges());

    UserDriver& Driver() { return m_driver; }
    HWND Form() const { return m_form; }
    const ScratchFolder& Temp() const { return m_temp; }

    // The two temporary files: the profile is the one with the lower number.
    std::wstring ProfilePath() const;
    std::wstring DxDiagPath() const;

    // The [Bug Report] / any section of the profile, as on disk now.
    ProfileEntries Section(const wchar_t* section) const;
    // [Bug Report] without "Version", which start-up's version fills once
    // (ReadBugReportValue reads it).
    ProfileEntries BugReportSection() const;

    // Clicks into a description, types text and waits until it shows.
    ::testing::AssertionResult Describe(int id, const std::wstring& typed, const std::wstring& shown);

    // Presses Send and waits for a message box of the reporter.
    HWND SendAndWaitForBox(DWORD timeoutMs = kWindowTimeoutMs);

private:
    std::vector<std::wstring> TempFiles() const;

    ScratchFolder m_temp;
    UserDriver m_driver;
    HWND m_form;
    std::wstring m_installedVersion;
};

// A mouse click into the control, as the user gives it the focus.
bool ClickInto(UserDriver& driver, HWND dialog, int controlId);
// A key pressed and released while the control has the focus.
bool PressKey(UserDriver& driver, HWND dialog, int controlId, UINT virtualKey);

// Returns once the dialog's thread has handled a message sent now: a box the
// thread was about to show is up by then (a box's own loop handles it too).
bool WaitUntilHandled(HWND dialog, DWORD timeoutMs = 10000);

// The control of the dialog's thread that has the keyboard focus, or 0.
int FocusedControlId(HWND dialog);
bool WaitForFocus(HWND dialog, int controlId, DWORD timeoutMs);

bool IsReadOnly(HWND dialog, int controlId);
bool IsEnabled(HWND dialog, int controlId);
std::wstring ReadControl(HWND dialog, int controlId);

// The entries of a combo box and the selected one (-1: none).
std::vector<std::wstring> ReadComboItems(HWND dialog, int controlId);
int ReadComboSelection(HWND dialog, int controlId);

// Waits until the profile's [Bug Report] section equals expected.
::testing::AssertionResult WaitForBugReportSection(const FormRun& run, const ProfileEntries& expected,
                                                   DWORD timeoutMs = 5000);

std::string DescribeEntries(const ProfileEntries& entries);

// Bytes of a file, or false when it cannot be read.
