#include "bugreport/report_origin.h"

WCHAR g_szInstalledVersion[kInstalledVersionChars];
