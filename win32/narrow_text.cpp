#include "win32/narrow_text.h"

std::string NarrowText(UINT codePage, const WCHAR* text)
{
    const int bytes = WideCharToMultiByte(codePage, 0, text, -1, NULL, 0, NULL, NULL);
    if (bytes <= 1)
        return std::string();
    std::string narrow(static_cast<size_t>(bytes), '\0');
    if (WideCharToMultiByte(codePage, 0, text, -1, &narrow[0], bytes, NULL, NULL) == 0)
        return std::string();
    narrow.resize(static_cast<size_t>(bytes) - 1);
    return narrow;
}
