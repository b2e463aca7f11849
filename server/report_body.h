// The upload body of a decoded bug or crash report, rebuilt: what the
// reporter's encoders make of its fields. The parsers accept only bodies
// that this gives back byte for byte (the fuzz target checks it), so the
// store need not keep the body beside the fields.
#pragma once

#include <string>

#include "server/report_parser.h"

std::string RebuildReportBody(const Report& report);
std::string RebuildCrashBody(const CrashReport& report);
