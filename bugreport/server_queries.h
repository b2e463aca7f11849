// The two queries to the report server. Both block, fail silently and leave
// their outputs empty when the server gives nothing usable.
#pragma once

#include <windows.h>

// Capacity, in wide units, of the buffer GetComponents fills.
const DWORD kComponentsSize = 2048;

// Fills components (kComponentsSize units) with the server's component
// names, one per line, or with the empty text.
void GetComponents(WCHAR* components);

// Fills version and url with the first and second line of the server's
// latest-version answer; sizes are the buffers' capacities in wide units.
void GetLatestVersion(WCHAR* version, DWORD versionSize, WCHAR* url, DWORD urlSize);
