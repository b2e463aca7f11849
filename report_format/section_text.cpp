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

const char kVersionLineKey[] = "Version=";
const char kCodePageLineKey[] = "CodePage=";

void AppendComponentLine(std::string& text, const std::string& component, size_t limit)
{
    AppendSectionTail(text, kComponentLineKey + component, limit);
}

std::string FormatSectionTail(const std::string& component, const std::string& version, unsigned codePage)
{
    const std::string firstLine = version.substr(0, version.find_first_of("\r\n"));
    return kComponentLineKey + component + "\n" + kVersionLineKey + firstLine + "\n" + kCodePageLineKey +
           std::to_string(codePage);
}

void AppendSectionTail(std::string& text, const std::string& tail, size_t limit)
{
    if (tail.size() >= limit) {
        text = tail.substr(0, limit);
        return;
    }
    if (!text.empty()) {
        text.resize(std::min(text.size(), limit - tail.size() - 1));
        text += '\n';
    }
    text += tail;
}
