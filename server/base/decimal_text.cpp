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
