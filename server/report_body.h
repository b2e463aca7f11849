// The upload body of a decoded bug or crash report, rebuilt: what the
// reporter's encoders make of its fields. The parsers accept only bodies
// that this gives back byte for byte (the fuzz target checks it), so the
// store need not keep the body beside the fields.
#pragma once

#include <string>

#include "server/report_parser.h"

// componentLine: record 5 ends with the component's line, as the reporter
// sends it since it has one; without, as older reporters sent it (the
// component is then empty).
std::string RebuildReportBody(const Report& report, bool componentLine = true);
std::string RebuildCrashBody(const CrashReport& report);

// Whether body is exactly what the Rebuild functions give, found without
// building it: the bytes are encoded a line at a time and compared in place.
bool IsReportBodyRebuilt(const Report& report, const std::string& body, bool componentLine = true);
bool IsCrashBodyRebuilt(const CrashReport& report, const std::string& body);
