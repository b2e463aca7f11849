// Start-up with a report server that accepts the connection and never
// answers: each query gives up after its receive timeout and the program
// goes on. Slow by nature: run in the build of the reporter whose time
// limits are kWaitDivisor times shorter.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "build_settings.h"
#include "tests/wine/holding_server.h"
#include "tests/wine/short_waits.h"
#include "tests/wine/startup_support.h"

namespace {

// The queries' timeouts: connect and send 15 s, receive 20 s. A query held
// by the server ends by the receive timeout, so it lasts at least that long,
// and not much longer.
const DWORD kReceiveTimeoutMs = 20000 / kWaitDivisor;
const DWORD kLateMs = 3000;

TEST(StartupWithoutServer, SilentServerCountsAsUnreachableAfterTheReceiveTimeout)
{
    HoldingServer server;
    ASSERT_TRUE(server.IsListening()) << "port " << BREVORA_REPORT_SERVER_PORT << " is taken";
    UseReporter(kShortWaitsReporter);
    const double seconds = ExpectFormWithoutUpdateBox(120000);
    std::printf("[ figures  ] the form appeared %.1f s after the start with a silent server\n", seconds);

    // The version check, then the component list.
    const std::vector<std::string> requests = server.RequestLines();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(0u, requests[0].find("GET /bugreport/latest_version ")) << requests[0];
    EXPECT_EQ(0u, requests[1].find("GET /bugreport/components/ ")) << requests[1];
    const std::vector<DWORD> held = server.HeldUntilClosedMs();
    for (size_t i = 0; i < held.size(); ++i) {
        std::printf("[ figures  ] request %u held %.1f s until the reporter gave up\n", static_cast<unsigned>(i + 1),
                    held[i] / 1000.0);
        EXPECT_GE(held[i], kReceiveTimeoutMs - 100) << "request " << i + 1 << " gave up before the receive timeout";
        EXPECT_LE(held[i], kReceiveTimeoutMs + kLateMs) << "request " << i + 1 << " outlasted the receive timeout";
    }
    EXPECT_GE(seconds, 2 * kReceiveTimeoutMs / 1000.0) << "the form came before both queries had timed out";
}

}  // namespace
