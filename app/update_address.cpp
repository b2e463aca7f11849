#include "app/update_address.h"

#include <cwctype>

static bool StartsWithNoCase(const wchar_t* text, const wchar_t* prefix)
{
    for (; *prefix != L'\0'; ++text, ++prefix) {
        if (std::towlower(static_cast<wint_t>(*text)) != static_cast<wint_t>(*prefix))
            return false;
    }
    return true;
}

static bool IsForbiddenUnit(wchar_t c)
{
    // C0 and C1 controls, DEL, and what would split or quote the argument.
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == L' ' || c == L'"';
}

bool IsBrowsableUpdateAddress(const wchar_t* address)
{
    if (address == nullptr)
        return false;
    const wchar_t* rest = nullptr;
    if (StartsWithNoCase(address, L"http://"))
        rest = address + 7;
    else if (StartsWithNoCase(address, L"https://"))
        rest = address + 8;
    else
        return false;
    if (*rest == L'\0' || *rest == L'/')
        return false;  // no host
    for (const wchar_t* p = address; *p != L'\0'; ++p) {
        if (IsForbiddenUnit(*p))
            return false;
    }
    return true;
}
