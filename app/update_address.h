// Which update addresses from the report server may reach the browser.
#pragma once

// True when address is an http:// or https:// URL with a host and without
// quotes, spaces or control characters, so that it reaches the browser as a
// single argument and cannot add switches or start anything else.
bool IsBrowsableUpdateAddress(const wchar_t* address);
