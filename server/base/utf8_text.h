// UTF-8 as the pages and the alerts check it before showing or sending
// bytes from reporters and dumps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The length of the well-formed UTF-8 sequence at bytes[at] (no overlong
// form, no surrogate, nothing past U+10FFFF); 0 when there is none. With
// codePoint, the sequence's code point goes there (only when there is one).
size_t MeasureUtf8Sequence(const std::string& bytes, size_t at, uint32_t* codePoint = nullptr);
