// Brevora's version texts ("1.4.2", "1.10"), compared as releases are:
// part by part, numbers as numbers.
#pragma once

#include <string>

// Negative, zero or positive as a is older than, the same as or newer than
// b. Parts are split at dots; a part that is a number compares by value,
// any other part as bytes; a missing part is older ("1.4" < "1.4.1").
int CompareVersions(const std::string& a, const std::string& b);
