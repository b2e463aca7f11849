// Start-up with a report server that accepts the connection and never
// answers: the queries' timeouts let the program go on. Slow by nature.
// inet_addr takes the host as the build settings spell it.
#define _WINSOCK_DEPRECATED_NO_WARNINGS
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "build_settings.h"
#include "tests/wine/startup_support.h"

namespace {

// Accepts connections on the report server's port and never answers.
class SilentServer
{
public:
    SilentServer() : m_socket(INVALID_SOCKET)
    {
        WSADATA data;
        m_started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(BREVORA_REPORT_SERVER_PORT);
        address.sin_addr.s_addr = inet_addr(BREVORA_REPORT_SERVER_HOST_A);
        m_listening = m_socket != INVALID_SOCKET &&
                      bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
                      listen(m_socket, 8) == 0;
    }
    ~SilentServer()
    {
        if (m_socket != INVALID_SOCKET)
            closesocket(m_socket);
        if (m_started)
            WSACleanup();
    }
    bool IsListening() const { return m_listening; }

private:
    SOCKET m_socket;
    bool m_started;
    bool m_listening;
};

TEST(StartupWithoutServer, SilentServerCountsAsUnreachableAfterTheTimeout)
{
    SilentServer server;
    ASSERT_TRUE(server.IsListening()) << "port " << BREVORA_REPORT_SERVER_PORT << " is taken";
    double seconds = ExpectFormWithoutUpdateBox(120000);
    std::printf("[ figures  ] the form appeared %.1f s after the start with a silent server\n", seconds);
}

}  // namespace
