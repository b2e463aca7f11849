// Wide (UTF-16) text as 8-bit text: UTF-8 for the crash report's texts, the
// ANSI code page for the bug report's.
#pragma once

#include <windows.h>

#include <string>

// text converted to codePage; the empty text when it cannot be converted.
std::string NarrowText(UINT codePage, const WCHAR* text);
