// GetInstalledVersion against the registry: whatever the value holds, the
// caller gets a terminated text, empty when the value cannot be read whole.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/startup.h"
#include "tests/wine/startup_support.h"

namespace {

// Stored bytes of the Version value, terminator or not as the case says.
void StoreVersionBytes(const std::wstring& text, bool withTerminator)
{
    RemoveBrevoraKey();
    HKEY key = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Brevora", 0, NULL, 0,
                                             KEY_SET_VALUE | KEY_WOW64_64KEY, NULL, &key, NULL));
    DWORD bytes = static_cast<DWORD>((text.size() + (withTerminator ? 1 : 0)) * sizeof(wchar_t));
    LONG result = RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes);
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, result);
}

struct VersionCase
{
    const char* name;
    std::wstring stored;
    bool terminated;
    std::wstring expected;
};

class InstalledVersionTest : public ::testing::TestWithParam<VersionCase>
{
protected:
    void TearDown() override { RemoveBrevoraKey(); }
};

TEST_P(InstalledVersionTest, GivesTheValueOrTheEmptyText)
{
    const VersionCase& c = GetParam();
    StoreVersionBytes(c.stored, c.terminated);
    // Start-up's call: 260 characters of room, announced as 260 bytes. The
    // buffer is filled with non-zero units so that leftovers show.
    std::vector<WCHAR> buffer(260, L'#');
    DWORD size = 260;
    GetInstalledVersion(buffer.data(), &size);
    EXPECT_EQ(c.expected, std::wstring(buffer.data(), std::find(buffer.begin(), buffer.end(), L'\0') - buffer.begin()));
}

INSTANTIATE_TEST_SUITE_P(Values, InstalledVersionTest, ::testing::Values(
    VersionCase{ "Short", L"2.1.0", true, L"2.1.0" },
    VersionCase{ "Longest129", std::wstring(129, L'9'), true, std::wstring(129, L'9') },
    VersionCase{ "TooLong130", std::wstring(130, L'9'), true, L"" },
    VersionCase{ "MuchTooLong", std::wstring(1000, L'9'), true, L"" },
    VersionCase{ "UnterminatedShort", L"2.1.0", false, L"2.1.0" },
    VersionCase{ "UnterminatedFillingTheRead", std::wstring(130, L'9'), false, L"" }
), [](const ::testing::TestParamInfo<VersionCase>& info) { return std::string(info.param.name); });

TEST(InstalledVersion, NoKeyLeavesTheBufferAsItWas)
{
    RemoveBrevoraKey();
    std::vector<WCHAR> buffer(260, L'#');
    DWORD size = 260;
    GetInstalledVersion(buffer.data(), &size);
    EXPECT_EQ(std::vector<WCHAR>(260, L'#'), buffer);
}

}  // namespace
