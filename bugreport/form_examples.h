// The example texts of the bug-report form, and the flags that say whether
// each description edit still shows its example. The form sets the flags at
// the first focus of each edit; the upload reads them.
#pragma once

#include <windows.h>

extern int g_bStepsCleared;
extern int g_bHappenedCleared;
extern int g_bShouldHappenCleared;

extern const WCHAR kStepsExample[];
extern const WCHAR kHappenedExample[];
extern const WCHAR kShouldHappenExample[];

// Shown in the e-mail edit while contact is not allowed; never sent.
extern const WCHAR kEmailExample[];
