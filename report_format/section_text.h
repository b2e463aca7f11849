// Record 5 carries a whole profile section as one text. Portable.
#pragma once

#include <cstddef>

// Turns a section block as the private-profile service returns it (entries
// "key=value", each ended by a NUL; length counts the characters up to and
// including the last entry's NUL) into one NUL-terminated text, in place:
// the entries in their order, separated by one line feed. Returns the
// text's length.
size_t JoinSectionEntries(char* block, size_t length);
