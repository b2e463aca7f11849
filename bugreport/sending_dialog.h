// The progress box of an upload: "Sending your bug report..." with a bar of
// the bytes sent and Cancel, while a second thread sends. The form's thread
// keeps handling messages all the while.
#pragma once

#include <windows.h>

#include "bugreport/upload_request.h"

// None is 0, which DialogBoxParamW gives when it cannot make the box.
enum SendOutcome
{
    SEND_ACCEPTED = 1,  // the server has the report
    SEND_FAILED,     // no connection, an error answer, or no memory
    SEND_CANCELLED   // the user pressed Cancel (or closed the box)
};

// Shows the box, owned by the form, until the upload ends or the user
// cancels. A cancelled upload's thread closes its request within a piece of
// the body and ends on its own; nothing waits for it.
SendOutcome RunSendingBox(HWND form, const ReportToSend& report);
