// UTF-8 as the pages and the alerts check it before showing or sending
// bytes from reporters and dumps.
#pragma once

#include <cstddef>
#include <string>

// The length of the well-formed UTF-8 sequence at bytes[at] (no overlong
// form, no surrogate, nothing past U+10FFFF); 0 when there is none.
size_t MeasureUtf8Sequence(const std::string& bytes, size_t at);
