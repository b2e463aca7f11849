// The two queries to the report server. Both block, fail silently and leave
// their outputs empty when the server gives nothing usable.
#pragma once

#include <windows.h>

#include "win32/internet_session.h"

// Capacity, in wide units, of the buffer GetComponents fills.
const DWORD kComponentsSize = 2048;

// The queries' time limits: connect and send 15 s, receive 20 s. A server
// that accepts the connection and never answers would otherwise hold the
// program before any window appears; past these it counts as unreachable.
// A variable so that a test need not wait that long.
extern InternetTimeouts g_queryTimeouts;

// Fills components (kComponentsSize units) with the server's component
// names, one per line, or with the empty text.
void GetComponents(WCHAR* components);

// Fills version and url with the first and second line of the server's
// latest-version answer; sizes are the buffers' capacities in wide units.
void GetLatestVersion(WCHAR* version, DWORD versionSize, WCHAR* url, DWORD urlSize);
