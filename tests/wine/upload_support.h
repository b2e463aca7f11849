// What the upload tests share: the application log under the user's profile
// directory, texts in the ANSI code page, an independent base64, the
// system information as the profile holds it, and the boxes of Send.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/wine/form_driver.h"
#include "tests/wine/report_server_control.h"

// "\.brevora\brevora.log" under this user's profile directory, which the
// reporter (same user, same prefix) reads.
std::wstring AppLogPath();

// Puts a log in place for the test's duration, or makes sure there is none;
// the folder and the file are removed at the end.
class AppLog
{
public:
    AppLog();                                  // no log
    explicit AppLog(const std::string& bytes); // a log with these bytes
    ~AppLog();
    AppLog(const AppLog&) = delete;
    AppLog& operator=(const AppLog&) = delete;
};

std::string Ansi(const std::wstring& text);
std::string Utf8(const std::wstring& text);

// A value of the profile's [Bug Report], "" when the key is missing.
std::wstring ReadBugReportValue(const FormRun& run, const std::wstring& key);

// RFC 4648 base64 by the system's own encoder, not the reporter's.
std::string SystemBase64(const std::string& bytes);

// The [System Information] entries as the profile file holds them, one
// "key=value" per line, joined by line feeds.
std::string SystemInfoFromProfile(const FormRun& run);

// Adds an entry to [System Information], so record 5 has known content
// whatever the system-information step wrote.
void AddSystemInfoEntry(const FormRun& run, const wchar_t* key, const wchar_t* value);

// Fills the three descriptions (clicking into each) and, if given, ticks
// contact and types the address.
::testing::AssertionResult FillForm(FormRun& run, const std::wstring& steps, const std::wstring& happened,
                                    const std::wstring& shouldHappen, const std::wstring& email);

::testing::AssertionResult IsThanksBox(UserDriver& driver, HWND box);
::testing::AssertionResult IsFailureBox(UserDriver& driver, HWND box, HWND form);

// Presses OK in the thank-you box and expects the program to end with 0.
void AcknowledgeThanks(UserDriver& driver, HWND box);

// The stored reports, failing the test when they cannot be read.
std::vector<StoredReport> StoredReports();

// show's output for a stored report, failing the test when it cannot be had.
std::string ShowStoredReport(int id);
