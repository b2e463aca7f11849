// Where the application keeps its log: "\.brevora\brevora.log" under the
// user's profile directory. Portable, so the length rule is tested natively.
#pragma once

#include <cstddef>

// Capacity of the log path, terminator included.
const size_t kAppLogPathSize = 520;

// Writes profileDir and the log's relative path into path (capacity units,
// terminator included). An empty directory, or one too long for the whole
// path to fit, gives "." instead, which cannot be opened as a file and so
// sends the placeholder.
void ComposeAppLogPath(const wchar_t* profileDir, wchar_t* path, size_t capacity);
