// The strict reader of the two upload bodies, a bug report's and a crash
// report's: the records in their order, each key literal, payload and
// "\n\n", every payload valid base64, the file payloads wrapped in lines of
// 100 characters.
#pragma once

#include <cstddef>
#include <string>

#include "server/report/report.h"

// Parses and decodes a whole body. Record 5 ends with the chosen component
// as a line "Element=<name>" (the name's bytes as sent, a trailing CR
// included), which goes into component; a body without it gives an empty
// one. After it may come "Version=" and "CodePage=", both or neither. On
// refusal, reason is one line saying which record is wrong and how; report
// is then unspecified.
bool ParseReportBody(const char* body, size_t size, Report& report, std::string& reason);

// Parses and decodes a whole crash body, with the same rules and reasons.
bool ParseCrashBody(const char* body, size_t size, CrashReport& report, std::string& reason);
