#include "tests/server/raw_http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>

namespace {

class Socket
{
public:
    Socket() : m_fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
    ~Socket()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

bool ParseHead(const std::string& head, RawResponse& response)
{
    const size_t lineEnd = head.find("\r\n");
    const std::string statusLine = head.substr(0, lineEnd);
    if (statusLine.compare(0, 5, "HTTP/") != 0 || statusLine.size() < 12)
        return false;
    response.status = std::atoi(statusLine.c_str() + 9);

    size_t pos = lineEnd + 2;
    while (pos < head.size()) {
        const size_t end = head.find("\r\n", pos);
        const std::string line = head.substr(pos, end - pos);
        pos = end == std::string::npos ? head.size() : end + 2;
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        size_t valueStart = colon + 1;
        while (valueStart < line.size() && line[valueStart] == ' ')
            ++valueStart;
        response.headers[name] = line.substr(valueStart);
    }
    return true;
}

bool ConnectSocket(int fd, const char* source, int port)
{
    if (fd < 0)
        return false;
    if (source != nullptr) {
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        if (inet_pton(AF_INET, source, &local.sin_addr) != 1 ||
            bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
            return false;
    }
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}
}  // namespace

int ConnectFrom(const char* source, int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && !ConnectSocket(fd, source, port)) {
        close(fd);
        return -1;
    }
    return fd;
}

RawResponse ExchangeRaw(int port, const std::string& request, int timeoutMs)
{
    return ExchangeRawFrom(nullptr, port, request, timeoutMs);
}

RawResponse ExchangeRawFrom(const char* source, int port, const std::string& request, int timeoutMs)
{
    RawResponse response;
    Socket sock;
    if (!ConnectSocket(sock.Get(), source, port))
        return response;

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    auto remainingMs = [&]() {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                std::chrono::steady_clock::now());
        return static_cast<int>(std::max<long long>(0, left.count()));
    };

    // Send what the server takes; it may answer and stop reading early.
    size_t sent = 0;
    std::string received;
    while (sent < request.size() && remainingMs() > 0) {
        pollfd fd = {sock.Get(), POLLOUT | POLLIN, 0};
        if (poll(&fd, 1, remainingMs()) <= 0)
            break;
        if (fd.revents & POLLIN)
            break;  // an early answer
        const ssize_t put = send(sock.Get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (put <= 0)
            break;
        sent += static_cast<size_t>(put);
    }

    size_t headEnd = std::string::npos;
    size_t wanted = 0;
    while (remainingMs() > 0) {
        if (headEnd != std::string::npos && received.size() >= headEnd + 4 + wanted)
            break;
        pollfd fd = {sock.Get(), POLLIN, 0};
        if (poll(&fd, 1, remainingMs()) <= 0)
            break;
        char buffer[65536];
        const ssize_t got = recv(sock.Get(), buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        received.append(buffer, static_cast<size_t>(got));
        if (headEnd == std::string::npos) {
            headEnd = received.find("\r\n\r\n");
            if (headEnd != std::string::npos) {
                if (!ParseHead(received.substr(0, headEnd + 2), response))
                    return response;
                auto length = response.headers.find("content-length");
                wanted = length != response.headers.end() ? std::strtoull(length->second.c_str(), nullptr, 10) : 0;
            }
        }
    }
    if (headEnd != std::string::npos && received.size() >= headEnd + 4 + wanted) {
        response.body = received.substr(headEnd + 4, wanted);
        response.received = true;
    }
    return response;
}
