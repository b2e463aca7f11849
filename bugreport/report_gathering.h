// What a report carries, gathered at the moment of sending: the form's
// texts, the profile's system information and where the diagnostic report
// and the application log are.
#pragma once

#include <windows.h>

#include "bugreport/upload_request.h"

// Reads the form and the profile (on the form's thread). Throws
// std::bad_alloc when memory runs out.
ReportToSend GatherReport(HWND hDlg);
