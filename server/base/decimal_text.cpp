#include "server/base/decimal_text.h"

#include <cctype>

bool ParseDecimalDigits(const std::string& text, size_t maxDigits, uint64_t& value)
{
    if (text.empty() || text.size() > maxDigits)
        return false;
    value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

bool ParsePositiveId(const std::string& text, int64_t& id)
{
    uint64_t value = 0;
    if (!ParseDecimalDigits(text, 18, value) || value == 0)
        return false;
    id = static_cast<int64_t>(value);
    return true;
}
