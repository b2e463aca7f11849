// What a report carries, gathered at the moment of sending: the form's
// texts, the profile's system information, the diagnostic report and the
// application log.
#pragma once

#include <windows.h>

#include <cstddef>

// Fills body (bodySize bytes, zeroed) with the nine records. Returns false
// when a buffer cannot be had.
bool GatherReportBody(HWND hDlg, char* body, size_t bodySize);
