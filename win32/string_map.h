// Ordered map of 8-bit keys to 8-bit values, compared byte by byte.
#pragma once

#include <map>
#include <string>

typedef std::map<std::string, std::string> StringMap;
