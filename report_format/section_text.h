// Record 5 carries a whole profile section as one text. Portable.
#pragma once

#include <cstddef>
#include <string>

// Turns a section block as the private-profile service returns it (entries
// "key=value", each ended by a NUL; length counts the characters up to and
// including the last entry's NUL) into one NUL-terminated text, in place:
// the entries in their order, separated by one line feed. Returns the
// text's length.
size_t JoinSectionEntries(char* block, size_t length);

// Record 5 ends with the component the user chose, as one more line: this
// key and the name's bytes (a trailing CR of the server's list included).
// Servers that do not know the line keep it as part of the section.
extern const char kComponentLineKey[];  // "Element="

// Appends the component's line to the joined section text, after a line
// feed when there are entries. The entries are cut when needed so that the
// whole stays within limit bytes.
void AppendComponentLine(std::string& text, const std::string& component, size_t limit);

// After the component's line come two more: the installed Brevora version
// and the ANSI code page the texts were read in, so that the server can
// show them as typed.
extern const char kVersionLineKey[];   // "Version="
extern const char kCodePageLineKey[];  // "CodePage="

// The three lines that end record 5, without a final line feed. A version
// of several lines keeps its first: the lines must stay three.
std::string FormatSectionTail(const std::string& component, const std::string& version, unsigned codePage);

// As AppendComponentLine, for a tail made by FormatSectionTail.
void AppendSectionTail(std::string& text, const std::string& tail, size_t limit);
