// The upload body of a decoded report, rebuilt: what the reporter's encoder
// makes of its fields. The parser accepts only bodies that this gives back
// byte for byte (the fuzz target checks it), so the store need not keep the
// body beside the fields.
#pragma once

#include <string>

#include "server/report_parser.h"

std::string RebuildReportBody(const Report& report);
