// Keeps the Esc key from closing a dialog through one of its multi-line edits.
#pragma once

#include <windows.h>

// A multi-line edit takes every key and answers Esc by closing its dialog,
// which would throw away what the user typed. After this call Esc in the
// edit goes to the dialog manager as in every other control, and the dialog
// procedure decides (the reporter's dialogs ignore it).
void RouteEscapeToDialog(HWND edit);
