// Whole numbers written in decimal digits, as options and headers give them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Digits only (no sign, space or suffix), 1 to maxDigits of them; maxDigits
// of at most 19 keeps the value inside 64 bits.
bool ParseDecimalDigits(const std::string& text, size_t maxDigits, uint64_t& value);
