// Linked into brevora-bugreporter-short-waits.exe only. The waits are
// divided as the program sets them, before WinMain runs, so a test of this
// build still sees any change to the program's own values.
#include "tests/wine/short_waits.h"

#include "bugreport/server_queries.h"
#include "bugreport/system_info.h"

namespace {

struct ShortWaits
{
    ShortWaits()
    {
        // Rounded down: one check fewer in the program still shows.
        g_nReportChecks /= static_cast<int>(kWaitDivisor);
        g_queryTimeouts.connectMs /= kWaitDivisor;
        g_queryTimeouts.sendMs /= kWaitDivisor;
        g_queryTimeouts.receiveMs /= kWaitDivisor;
    }
};

// Both variables above have constant initializers, which are in place
// before any object's constructor runs.
const ShortWaits g_shortWaits;

}  // namespace
