// ASCII-only text helpers: header names, codings and names matched without
// regard to case, whatever the locale.
#pragma once

#include <string>

// A-Z become a-z; every other byte is kept.
std::string ToLowerAscii(std::string text);

// Without the spaces and tabs at either end (HTTP's optional white space).
std::string TrimSpacesAndTabs(const std::string& text);
