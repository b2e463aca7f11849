// Splits a command line in place into arguments, the reporter's own rules.
// Portable: no <windows.h>, so it also builds natively for tests and fuzzing.
#pragma once

#include <vector>

// Cuts text (a writable, NUL-terminated copy of the command line) into
// arguments by overwriting separators with NUL, and appends a pointer to the
// first byte of each argument to args. Whitespace is what isspace() says in
// the "C" locale; a double quote opens a quoted argument, and a quote followed
// by whitespace or the end closes it. There is no escape character.
void SplitCommandLine(char* text, std::vector<char*>& args);
