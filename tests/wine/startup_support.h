// What the start-up tests share: the reporter's texts, a temporary folder of
// the test's own, the installed version in the registry, the report server's
// files and request log, and the stand-in browser.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/wine/report_server_control.h"
#include "tests/wine/test_support.h"
#include "tests/wine/user_driver.h"

extern const wchar_t kReporterCaption[];
extern const wchar_t kCrashCaption[];
extern const wchar_t kOfflineText[];
extern const wchar_t kUpdateText[];

// How long a window may take to appear or the program to end under Wine.
const DWORD kWindowTimeoutMs = 20000;
const DWORD kExitTimeoutMs = 15000;

std::wstring ReporterPath();
// Which built reporter ReporterPath names from now on (default
// brevora-bugreporter.exe; the HTTPS tests take brevora-bugreporter-https.exe).
void UseReporter(const std::wstring& fileName);

// An empty folder of the test's own, removed with its files at the end.
class ScratchFolder
{
public:
    explicit ScratchFolder(const std::wstring& purpose);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& Path() const { return m_path; }  // no trailing backslash
    std::vector<std::wstring> FileNames() const;

private:
    std::wstring m_path;
};

// The installed version in HKLM "Software\Brevora" (64-bit view).
void RemoveBrevoraKey();
void SetBrevoraKeyWithoutVersion();
void SetInstalledVersion(const std::wstring& version);

// Files the test's report server serves, and its request log.
void ServeFile(const char* name, const std::string& bytes);
void RemoveServedFile(const char* name);
// Puts a folder where the server reads name, so that it answers 500.
void ServeFolderInstead(const char* name);
// Request-log lines that name path.
size_t CountServerRequests(const char* path);

// Puts the stand-in iexplore.exe first on the child's search path for the
// test's duration: Wine's own iexplore.exe in system32 is moved aside, since
// the shell looks there before PATH (so the tests that use it have a prefix
// of their own). It is put back at the end, and first of all too, should an
// earlier run have ended before it could do so.
class BrowserStandIn
{
public:
    explicit BrowserStandIn(const ScratchFolder& folder);
    ~BrowserStandIn();
    BrowserStandIn(const BrowserStandIn&) = delete;
    BrowserStandIn& operator=(const BrowserStandIn&) = delete;

    // Variables that make the child find and record the stand-in.
    EnvironmentChanges Environment() const;
    // The arguments of each start, in order; empty when it never started.
    std::vector<std::vector<std::wstring>> Starts() const;

private:
    std::wstring m_record;
    bool m_movedWineBrowser;
};

// The child's environment for a test: its own temporary folder and no proxy.
EnvironmentChanges ReporterEnvironment(const std::wstring& tempFolder);

// True when the only windows shown were the wait box (no caption) and then
// the bug-report form.
::testing::AssertionResult ShowedWaitBoxThenForm(const UserDriver& driver);

// Runs the reporter with an installed version and expects it to go on to
// the form without an update box, as when the server is unreachable; returns
// the seconds until the form appeared.
double ExpectFormWithoutUpdateBox(DWORD timeoutMs);

// Checks a message box against the texts and buttons the user should see.
::testing::AssertionResult IsMessageBoxWith(UserDriver& driver, HWND box, const std::wstring& text,
                                            const std::vector<int>& buttonIds);
