// An httplib server of the test's own, listening on a loopback port from a
// thread of its own.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

// Binds server to a free loopback port, starts listening on thread and
// returns once it accepts.
template <typename Server>
void StartListening(Server& server, std::thread& thread, int& port)
{
    port = server.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    thread = std::thread([&server] { server.listen_after_bind(); });
    for (int i = 0; i < 2000 && !server.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(server.is_running());
}

template <typename Server>
void StopListening(Server& server, std::thread& thread)
{
    server.stop();
    if (thread.joinable())
        thread.join();
}
