#include "tests/wine/holding_server.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "build_settings.h"

HoldingServer::HoldingServer() : m_winsock(false), m_listener(INVALID_SOCKET), m_stopping(false)
{
    WSADATA data;
    m_winsock = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(BREVORA_REPORT_SERVER_PORT);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (listener != INVALID_SOCKET && bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        listen(listener, 8) == 0) {
        m_listener = listener;
        m_thread = std::thread(&HoldingServer::Serve, this);
    } else if (listener != INVALID_SOCKET) {
        closesocket(listener);
    }
}

HoldingServer::~HoldingServer()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    if (m_thread.joinable())
        m_thread.join();
    for (Client& client : m_clients) {
        if (client.socket != INVALID_SOCKET)
            closesocket(client.socket);
    }
    if (m_listener != INVALID_SOCKET)
        closesocket(m_listener);
    if (m_winsock)
        WSACleanup();
}

// A request is whole once its headers and the body they announce are in.
static bool IsWholeRequest(const std::string& received)
{
    const size_t headersEnd = received.find("\r\n\r\n");
    if (headersEnd == std::string::npos)
        return false;
    size_t bodyLength = 0;
    const std::string headers = received.substr(0, headersEnd + 2);
    for (size_t line = 0; line < headers.size();) {
        const size_t end = headers.find("\r\n", line);
        const std::string text = headers.substr(line, end - line);
        if (_strnicmp(text.c_str(), "Content-Length:", 15) == 0)
            bodyLength = std::strtoul(text.c_str() + 15, NULL, 10);
        line = end + 2;
    }
    return received.size() >= headersEnd + 4 + bodyLength;
}

void HoldingServer::Receive(Client& client)
{
    char buffer[65536];
    const int got = recv(client.socket, buffer, sizeof(buffer), 0);
    if (got <= 0) {
        // The client gave up on the request.
        closesocket(client.socket);
        client.socket = INVALID_SOCKET;
        client.closedTick = GetTickCount();
        return;
    }
    client.received.append(buffer, got);
    if (!client.whole && IsWholeRequest(client.received)) {
        client.whole = true;
        client.arrivedTick = GetTickCount();
        m_arrived.notify_all();
    }
}

void HoldingServer::Serve()
{
    for (;;) {
        fd_set readable;
        FD_ZERO(&readable);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping)
                return;
            FD_SET(m_listener, &readable);
            for (const Client& client : m_clients) {
                if (client.socket != INVALID_SOCKET)
                    FD_SET(client.socket, &readable);
            }
        }
        // Short, so that answers and the end are seen soon.
        timeval wait = { 0, 20000 };
        if (select(0, &readable, NULL, NULL, &wait) <= 0)
            continue;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (FD_ISSET(m_listener, &readable)) {
            SOCKET accepted = accept(m_listener, NULL, NULL);
            if (accepted != INVALID_SOCKET)
                m_clients.push_back(Client{ accepted, std::string(), false, 0, 0 });
        }
        for (Client& client : m_clients) {
            if (client.socket != INVALID_SOCKET && FD_ISSET(client.socket, &readable))
                Receive(client);
        }
    }
}

bool HoldingServer::WaitForRequests(size_t count, DWORD timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this, count] {
        size_t whole = 0;
        for (const Client& client : m_clients)
            whole += client.whole ? 1 : 0;
        return whole >= count;
    });
}

std::vector<std::string> HoldingServer::RequestLines()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> lines;
    for (const Client& client : m_clients) {
        if (client.whole)
            lines.push_back(client.received.substr(0, client.received.find("\r\n")));
    }
    return lines;
}

void HoldingServer::AnswerAll(const std::string& statusLine)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string answer = statusLine + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    for (Client& client : m_clients) {
        if (client.socket == INVALID_SOCKET)
            continue;
        send(client.socket, answer.data(), static_cast<int>(answer.size()), 0);
        shutdown(client.socket, SD_SEND);
        closesocket(client.socket);
        client.socket = INVALID_SOCKET;
    }
}

std::vector<DWORD> HoldingServer::HeldUntilClosedMs()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<DWORD> held;
    for (const Client& client : m_clients) {
        if (client.whole)
            held.push_back(client.closedTick != 0 ? client.closedTick - client.arrivedTick : 0);
    }
    return held;
}
