#include "server/base/code_page_text.h"

#include <iconv.h>

#include <cerrno>
#include <cstdlib>

#include "server/base/log_text.h"

namespace {

const char kDefaultCodePage[] = "CP1252";

// glibc's name of a Windows code page.
std::string NameCodePage(const std::string& codePage)
{
    if (codePage.empty() || codePage.size() > 5 || codePage.find_first_not_of("0123456789") != std::string::npos)
        return kDefaultCodePage;
    if (codePage == "65001")
        return "UTF-8";
    return "CP" + std::to_string(std::strtoul(codePage.c_str(), nullptr, 10));
}

class ScopedIconv
{
public:
    explicit ScopedIconv(iconv_t cd) : m_cd(cd) {}
    ~ScopedIconv()
    {
        if (IsOpen())
            iconv_close(m_cd);
    }
    ScopedIconv(const ScopedIconv&) = delete;
    ScopedIconv& operator=(const ScopedIconv&) = delete;
    bool IsOpen() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t Get() const { return m_cd; }

private:
    iconv_t m_cd;
};

}  // namespace

std::string ConvertFromCodePage(const std::string& bytes, const std::string& codePage)
{
    ScopedIconv cd(iconv_open("UTF-8", NameCodePage(codePage).c_str()));
    if (!cd.IsOpen()) {
        // A code page glibc does not know: the texts' most likely one.
        ScopedIconv fallback(iconv_open("UTF-8", kDefaultCodePage));
        return fallback.IsOpen() ? ConvertFromCodePage(bytes, kDefaultCodePage) : bytes;
    }
    std::string out;
    char block[4096];
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* to = block;
        size_t toLeft = sizeof block;
        const size_t done = iconv(cd.Get(), &in, &inLeft, &to, &toLeft);
        const int failure = errno;
        out.append(block, static_cast<size_t>(to - block));
        if (done != static_cast<size_t>(-1) || failure == E2BIG)
            continue;
        // EILSEQ, or EINVAL for a sequence cut short at the end: that byte
        // as \xNN, and on with the next.
        out += EscapeByte(static_cast<unsigned char>(*in));
        ++in;
        --inLeft;
        iconv(cd.Get(), nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

std::string EscapeControlCharacters(const std::string& utf8)
{
    return EscapeControlBytes(utf8, true, true);
}
