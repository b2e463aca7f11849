// Whole numbers written in decimal digits, as options and headers give them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Digits only (no sign, space or suffix), 1 to maxDigits of them; maxDigits
// of at most 19 keeps the value inside 64 bits.
bool ParseDecimalDigits(const std::string& text, size_t maxDigits, uint64_t& value);

// An id as commands and pages take it: 1 to 18 digits, at least 1. id is
// left as it was when the text is not one.
bool ParsePositiveId(const std::string& text, int64_t& id);
