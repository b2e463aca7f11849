// Text that a Windows program read in its ANSI code page, for people who
// read UTF-8: a terminal, a web page.
#pragma once

#include <string>

// The bytes converted from the Windows code page named by codePage (the
// decimal number a bug report's "CodePage=" line gives; empty or not a
// number: Windows-1252, which older reporters' texts are in nearly always)
// to UTF-8. A byte that cannot be converted stays as the text \xNN.
std::string ConvertFromCodePage(const std::string& bytes, const std::string& codePage);

// UTF-8 text for a terminal: C0 and C1 controls (and DEL) as \xNN, the rest
// as it is; LF and TAB kept, the CR of a CR LF dropped.
std::string EscapeControlCharacters(const std::string& utf8);
