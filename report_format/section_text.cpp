#include "report_format/section_text.h"

#include <algorithm>

size_t JoinSectionEntries(char* block, size_t length)
{
    size_t out = 0;
    bool entryOpen = false;
    for (size_t i = 0; i < length; ++i) {
        const char c = block[i];
        if (c == '\0') {
            entryOpen = false;
            continue;
        }
        if (!entryOpen && out > 0)
            block[out++] = '\n';
        entryOpen = true;
        block[out++] = c;
    }
    block[out] = '\0';
    return out;
}

const char kComponentLineKey[] = "Element=";

void AppendComponentLine(std::string& text, const std::string& component, size_t limit)
{
    std::string line = kComponentLineKey + component;
    if (line.size() >= limit) {
        text = line.substr(0, limit);
        return;
    }
    if (!text.empty()) {
        text.resize(std::min(text.size(), limit - line.size() - 1));
        text += '\n';
    }
    text += line;
}
