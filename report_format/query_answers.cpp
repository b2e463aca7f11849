#include "report_format/query_answers.h"

#include <cstring>

bool ReadResponse(ReadChunkFn readChunk, void* source, char* buffer, size_t limit, size_t* count)
{
    *count = 0;
    while (*count < limit) {
        size_t got = 0;
        if (!readChunk(source, buffer + *count, limit - *count, &got))
            return false;
        if (got == 0)
            break;
        // A reader that claims more than it was offered is not trusted past the limit.
        *count += (got < limit - *count) ? got : limit - *count;
    }
    return true;
}

static TextSpan NextLine(const char** cursor)
{
    const char* p = *cursor;
    while (*p == '\n')
        ++p;
    TextSpan line = { p, 0 };
    while (p[line.length] != '\0' && p[line.length] != '\n')
        ++line.length;
    *cursor = p + line.length;
    return line;
}

void SplitVersionResponse(const char* text, TextSpan* version, TextSpan* url)
{
    const char* cursor = text;
    *version = NextLine(&cursor);
    *url = NextLine(&cursor);
}

bool CopyConvertedLine(ToWideFn toWide, TextSpan line, wchar_t* out, size_t capacity)
{
    if (line.length == 0)
        return false;
    size_t needed = toWide(line.text, line.length, nullptr, 0);
    // The terminator must fit too: a line that needs the whole buffer is dropped.
    if (needed == 0 || needed + 1 >= capacity)
        return false;
    size_t written = toWide(line.text, line.length, out, needed);
    if (written != needed) {
        out[0] = L'\0';
        return false;
    }
    out[written] = L'\0';
    return true;
}

void HandleComponentsResponse(ToWideFn toWide, const char* body, wchar_t* out, size_t capacity)
{
    if (capacity == 0)
        return;
    out[0] = L'\0';
    TextSpan whole = { body, std::strlen(body) };
    CopyConvertedLine(toWide, whole, out, capacity);
}

void HandleVersionResponse(ToWideFn toWide, const char* body,
                           wchar_t* version, size_t versionSize, wchar_t* url, size_t urlSize)
{
    if (versionSize == 0 || urlSize == 0)
        return;
    version[0] = L'\0';
    url[0] = L'\0';
    TextSpan versionLine, urlLine;
    SplitVersionResponse(body, &versionLine, &urlLine);
    CopyConvertedLine(toWide, versionLine, version, versionSize);
    CopyConvertedLine(toWide, urlLine, url, urlSize);
}
