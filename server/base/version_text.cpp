#include "server/base/version_text.h"

#include <cstddef>

namespace {

std::string TakePart(const std::string& text, size_t& at)
{
    const size_t dot = text.find('.', at);
    const size_t end = dot == std::string::npos ? text.size() : dot;
    std::string part = text.substr(at, end - at);
    at = dot == std::string::npos ? text.size() + 1 : dot + 1;
    return part;
}

bool IsNumber(const std::string& part)
{
    return !part.empty() && part.find_first_not_of("0123456789") == std::string::npos;
}

int ComparePart(const std::string& a, const std::string& b)
{
    if (IsNumber(a) && IsNumber(b)) {
        const size_t zerosA = a.find_first_not_of('0') == std::string::npos ? a.size() - 1 : a.find_first_not_of('0');
        const size_t zerosB = b.find_first_not_of('0') == std::string::npos ? b.size() - 1 : b.find_first_not_of('0');
        const std::string digitsA = a.substr(zerosA);
        const std::string digitsB = b.substr(zerosB);
        if (digitsA.size() != digitsB.size())
            return digitsA.size() < digitsB.size() ? -1 : 1;
        return digitsA.compare(digitsB);
    }
    return a.compare(b);
}

}  // namespace

int CompareVersions(const std::string& a, const std::string& b)
{
    size_t atA = 0;
    size_t atB = 0;
    while (atA <= a.size() || atB <= b.size()) {
        if (atA > a.size())
            return -1;
        if (atB > b.size())
            return 1;
        const int order = ComparePart(TakePart(a, atA), TakePart(b, atB));
        if (order != 0)
            return order < 0 ? -1 : 1;
    }
    return 0;
}
