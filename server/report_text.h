// How stored reports are shown: the list line, show's output and export's
// report.txt.
#pragma once

#include <string>

#include "server/report_store.h"

// Replaces control bytes (and DEL and 0x80-0x9F, which some terminals obey)
// by \xNN so that a report cannot drive the terminal; keepLineBreaks keeps
// LF and TAB, and drops the CR of a CR LF.
std::string EscapeControlBytes(const std::string& bytes, bool keepLineBreaks);

// A bug report's texts as the user typed them: bytes in the Windows code
// page the reporter named (its "CodePage=" line; empty or not a number:
// Windows-1252, which older reporters' texts are in nearly always),
// converted to UTF-8. A byte that cannot be converted stays as the text
// \xNN.
std::string ConvertFromCodePage(const std::string& bytes, const std::string& codePage);

// The bytes before the first CR or LF.
std::string GetFirstLine(const std::string& text);

// "7\tbug\t2024-...Z\tuser@example.com\tFirst line" (fields escaped, "-" for
// none); a crash report's line has its comment's first line.
std::string FormatListLine(const ReportSummary& summary);

// How an attachment arrived: "1234 bytes", or why it has no content.
std::string DescribeAttachment(const ReportFile& file);

// Every field of a report; raw keeps the sender's bytes (report.txt),
// otherwise the texts are converted from their code page and control
// characters are escaped for a terminal (show).
std::string FormatReport(const StoredReport& stored, bool raw);
std::string FormatCrashReport(const StoredCrashReport& stored, bool raw);
