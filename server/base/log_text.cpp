#include "server/base/log_text.h"

#include <time.h>

#include <chrono>
#include <cstdio>

std::string EscapeByte(unsigned char c)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string escaped = "\\x";
    escaped += hex[c >> 4];
    escaped += hex[c & 0x0F];
    return escaped;
}

std::string FormatUtcNow()
{
    const auto now = std::chrono::system_clock::now();
    const time_t seconds = std::chrono::system_clock::to_time_t(now);
    const long milliseconds = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    struct tm utc;
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, milliseconds);
    return text;
}

std::string EscapeControlBytes(const std::string& bytes, bool keepLineBreaks, bool utf8Text)
{
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        const unsigned char next = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
        if (utf8Text && c == 0xC2 && next >= 0x80 && next < 0xA0) {
            out += EscapeByte(next);
            ++i;
        } else if (keepLineBreaks && (c == '\n' || c == '\t')) {
            out += static_cast<char>(c);
        } else if (keepLineBreaks && c == '\r' && next == '\n') {
            // Windows line ends: the LF alone ends the line on a terminal.
        } else if (c < 0x20 || c == 0x7F || (!utf8Text && c >= 0x80 && c < 0xA0)) {
            out += EscapeByte(c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string GetFirstLine(const std::string& text)
{
    return text.substr(0, text.find_first_of("\r\n"));
}
