// The upload body of a decoded bug or crash report, rebuilt: what the
// reporter's encoders make of its fields. The parsers accept only bodies
// that this gives back byte for byte (the fuzz target checks it), so the
// store need not keep the body beside the fields.
#pragma once

#include <string>

#include "server/report/report.h"

// componentLine: record 5 ends with the component's line, as the reporter
// sends it since it has one; without, as older reporters sent it (the
// component is then empty).
std::string RebuildReportBody(const Report& report, bool componentLine = true);
std::string RebuildCrashBody(const CrashReport& report);

// Whether body, which the parser accepted and decoded into report, is
// exactly what the Rebuild functions give, found without building it: the
// keys and one-line payloads are encoded and compared in place, the files'
// payloads only measured (the parser took each only as the exact encoding of
// its bytes). For a body the report was not parsed from, the answer means
// nothing.
bool IsReportBodyRebuilt(const Report& report, const std::string& body, bool componentLine = true);
bool IsCrashBodyRebuilt(const CrashReport& report, const std::string& body);
