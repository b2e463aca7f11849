// The reporter's test build brevora-bugreporter-short-waits.exe: the same
// program, with the waits that tests sit out divided by kWaitDivisor: the
// number of checks of an empty diagnostic report (their interval stays, as
// the time around each check would blur one check more or less), and the
// queries' time limits.
#pragma once

#include <windows.h>

const DWORD kWaitDivisor = 5;

const wchar_t kShortWaitsReporter[] = L"brevora-bugreporter-short-waits.exe";
