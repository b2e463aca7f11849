// The profile writers against the system's private-profile service: each
// case runs its writes on a new, empty profile and compares the file's bytes.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bugreport/report_files.h"
#include "bugreport/report_profile.h"
#include "win32/fixed_texts.h"

namespace {

struct Write
{
    enum Kind { kField, kDelete, kSystemInfo } kind;
    const wchar_t* key;
    std::wstring value;  // a field's text, or a system-information value
};

struct ProfileCase
{
    const char* name;
    std::vector<Write> writes;
    std::string expected;  // the file's bytes
};

// The code page's substitute for a character it cannot represent.
char SubstituteCharacter()
{
    CPINFO info = {};
    GetCPInfo(CP_ACP, &info);
    return static_cast<char>(info.DefaultChar[0]);
}

std::string ReadProfile()
{
    std::string bytes;
    HANDLE file = CreateFileW(g_szProfilePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0,
                              NULL);
    if (file == INVALID_HANDLE_VALUE)
        return "(cannot open the profile)";
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, NULL) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

class ProfileWriters : public ::testing::TestWithParam<ProfileCase>
{
protected:
    void SetUp() override
    {
        WCHAR folder[MAX_PATH];
        ASSERT_NE(0u, GetTempPathW(MAX_PATH, folder));
        ASSERT_NE(0u, GetTempFileNameW(folder, L"KRP", 0, g_szProfilePath));
        // Held open as start-up holds it, shared so the service can write.
        g_hProfile = CreateFileW(g_szProfilePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, g_hProfile);
        m_field = CreateWindowExW(0, L"EDIT", L"", WS_POPUP | ES_MULTILINE, 0, 0, 100, 100, NULL, NULL, NULL, NULL);
        ASSERT_NE(nullptr, m_field);
    }

    void TearDown() override
    {
        if (m_field != NULL)
            DestroyWindow(m_field);
        CloseHandle(g_hProfile);
        g_hProfile = INVALID_HANDLE_VALUE;
        DeleteFileW(g_szProfilePath);
    }

    void Run(const Write& write)
    {
        switch (write.kind) {
        case Write::kField:
            SetWindowTextW(m_field, write.value.c_str());
            WriteProfileField(m_field, write.key);
            break;
        case Write::kDelete:
            DeleteBugReportValue(write.key);
            break;
        case Write::kSystemInfo:
            WriteSystemInfo(write.key, write.value.c_str());
            break;
        }
    }

    HWND m_field = NULL;
};

TEST_P(ProfileWriters, LeaveTheExpectedBytes)
{
    for (const Write& write : GetParam().writes)
        Run(write);
    EXPECT_EQ(GetParam().expected, ReadProfile());
}

std::vector<ProfileCase> Cases()
{
    const Write::Kind F = Write::kField, D = Write::kDelete, S = Write::kSystemInfo;
    return {
        { "FieldGoesToBugReport", { { F, L"Steps", L"clicked Play" } }, "[Bug Report]\r\nSteps=clicked Play\r\n" },
        { "SecondWriteReplacesInPlace",
          { { F, L"Steps", L"a" }, { F, L"Happened", L"b" }, { F, L"Steps", L"c" } },
          "[Bug Report]\r\nSteps=c\r\nHappened=b\r\n" },
        { "DeleteRemovesTheEntry",
          { { F, L"AllowContact", L"1" }, { F, L"Email", L"me@example.com" }, { D, L"AllowContact", L"" } },
          "[Bug Report]\r\nEmail=me@example.com\r\n" },
        { "KeyWrittenAfterItsDeleteGoesLast",
          { { F, L"Email", L"x@example.com" }, { F, L"AllowContact", L"1" }, { D, L"Email", L"" },
            { F, L"Email", L"y@example.com" } },
          "[Bug Report]\r\nAllowContact=1\r\nEmail=y@example.com\r\n" },
        { "DeletingAMissingKeyChangesNothing",
          { { F, L"Element", L"Player" }, { D, L"Email", L"" } },
          "[Bug Report]\r\nElement=Player\r\n" },
        { "EmptyFieldKeepsTheEarlierValue",
          { { F, L"Steps", L"abc" }, { F, L"Steps", L"" } },
          "[Bug Report]\r\nSteps=abc\r\n" },
        { "EmptyFieldAloneWritesNothing", { { F, L"Steps", L"" } }, "" },
        // A value of several lines, rewritten, stands once as it is now.
        { "ShorterLinesReplaceEveryLine",
          { { F, L"Steps", L"one\r\ntwo\r\nthree" }, { F, L"Happened", L"x" }, { F, L"Steps", L"one\r\ntw" } },
          "[Bug Report]\r\nSteps=one\r\ntw\r\nHappened=x\r\n" },
        { "OneLineReplacesSeveral",
          { { F, L"Steps", L"a\r\nb" }, { F, L"Steps", L"a\r\nbc" }, { F, L"Steps", L"a" } },
          "[Bug Report]\r\nSteps=a\r\n" },
        { "LinesThatLookLikeEntriesLeaveNoTrace",
          { { F, L"Steps", L"a\r\nEmail=x\r\nElement" }, { F, L"AllowContact", L"1" }, { F, L"Steps", L"b" } },
          "[Bug Report]\r\nSteps=b\r\nAllowContact=1\r\n" },
        { "LinesOfAFieldStayLines",
          { { F, L"Steps", L"first\r\nsecond\r\nthird" }, { F, L"Happened", L"crash" } },
          "[Bug Report]\r\nSteps=first\r\nsecond\r\nthird\r\nHappened=crash\r\n" },
        { "CharacterOutsideTheCodePageBecomesTheSubstitute",
          { { F, L"Steps", L"a\x0E01z" } },
          std::string("[Bug Report]\r\nSteps=a") + SubstituteCharacter() + "z\r\n" },
        { "SectionsStandInTheOrderOfTheirFirstWrite",
          { { S, L"PATH", L"C:\\windows" }, { F, L"Element", L"Player" }, { S, L"TEMP", L"C:\\temp" } },
          "[System Information]\r\nPATH=C:\\windows\r\nTEMP=C:\\temp\r\n[Bug Report]\r\nElement=Player\r\n" },
    };
}

INSTANTIATE_TEST_SUITE_P(Writes, ProfileWriters, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<ProfileCase>& info) { return std::string(info.param.name); });

}  // namespace
