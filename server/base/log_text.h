// Text for log lines and terminals: the time stamp, control bytes made
// harmless, and the first line of a text.
#pragma once

#include <string>

// "2024-05-01T12:34:56.789Z" for now.
std::string FormatUtcNow();

// One byte as the text \xNN.
std::string EscapeByte(unsigned char c);

// Replaces control bytes (and DEL and 0x80-0x9F, which some terminals obey)
// by \xNN so that a report cannot drive the terminal; keepLineBreaks keeps
// LF and TAB, and drops the CR of a CR LF. With utf8Text the bytes are
// UTF-8: a C1 control is C2 80 to C2 9F and becomes the \xNN of its second
// byte, and every other byte from 0x80 up is kept.
std::string EscapeControlBytes(const std::string& bytes, bool keepLineBreaks, bool utf8Text = false);

// The bytes before the first CR or LF.
std::string GetFirstLine(const std::string& text);
