// Which update addresses may be handed to the browser.
#include <gtest/gtest.h>

#include <string>

#include "app/update_address.h"

namespace {

struct AddressCase
{
    const char* name;
    std::wstring address;
    bool browsable;
};

class UpdateAddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(UpdateAddressTest, AcceptsOnlyPlainWebAddresses)
{
    const AddressCase& c = GetParam();
    EXPECT_EQ(c.browsable, IsBrowsableUpdateAddress(c.address.c_str()));
}

INSTANTIATE_TEST_SUITE_P(Addresses, UpdateAddressTest, ::testing::Values(
    AddressCase{ "Http", L"http://brevora.org/download", true },
    AddressCase{ "Https", L"https://brevora.org/download?v=2.1&os=win", true },
    AddressCase{ "UpperCaseScheme", L"HTTPS://brevora.org/", true },
    AddressCase{ "PercentEncodedSpace", L"http://brevora.org/a%20b", true },
    AddressCase{ "NonAsciiPath", L"http://brevora.org/\u00E9t\u00E9", true },
    AddressCase{ "Empty", L"", false },
    AddressCase{ "SchemeOnly", L"http://", false },
    AddressCase{ "NoHost", L"https:///path", false },
    AddressCase{ "FileScheme", L"file:///C:/Windows/system32/calc.exe", false },
    AddressCase{ "JavascriptScheme", L"javascript:alert(1)", false },
    AddressCase{ "SchemeLookalike", L"httpx://brevora.org/", false },
    AddressCase{ "NoScheme", L"brevora.org/download", false },
    AddressCase{ "LeadingSpace", L" http://brevora.org/", false },
    AddressCase{ "Space", L"http://brevora.org/ -extoff", false },
    AddressCase{ "Quote", L"http://brevora.org/\" -private \"x", false },
    AddressCase{ "Tab", L"http://brevora.org/\tx", false },
    AddressCase{ "CarriageReturn", L"http://brevora.org/\r", false },
    AddressCase{ "Delete", L"http://brevora.org/\x7F", false },
    AddressCase{ "C1Control", L"http://brevora.org/\x85", false }
), [](const ::testing::TestParamInfo<AddressCase>& info) { return std::string(info.param.name); });

TEST(UpdateAddress, NullIsNotBrowsable)
{
    EXPECT_FALSE(IsBrowsableUpdateAddress(nullptr));
}

}  // namespace
