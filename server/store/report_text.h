// How stored reports are shown: the list line, show's output and export's
// report.txt.
#pragma once

#include <string>

#include "server/store/report_store.h"

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
