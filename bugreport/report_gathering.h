// What a report carries, gathered at the moment of sending: the form's
// texts, the profile's system information, the diagnostic report and the
// application log.
#pragma once

#include <windows.h>

#include <string>

// The nine records, at most kReportBodySize - 1 bytes. Returns false when
// they cannot be made to fit; throws std::bad_alloc when memory runs out.
bool GatherReportBody(HWND hDlg, std::string& body);
