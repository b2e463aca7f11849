#include "tests/server/raw_http.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <memory>

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

// Reads one response through receive (which gives bytes, or <= 0 when no
// more come) until it is whole or remainingMs() runs out.
template <typename RemainingMs, typename ReceiveFn>
void ReadResponse(RawResponse& response, RemainingMs remainingMs, ReceiveFn receive)
{
    std::string received;
    size_t headEnd = std::string::npos;
    size_t wanted = 0;
    while (remainingMs() > 0) {
        if (headEnd != std::string::npos && received.size() >= headEnd + 4 + wanted)
            break;
        char buffer[65536];
        const ssize_t got = receive(buffer, sizeof buffer, remainingMs());
        if (got <= 0)
            break;
        received.append(buffer, static_cast<size_t>(got));
        if (headEnd == std::string::npos) {
            headEnd = received.find("\r\n\r\n");
            if (headEnd != std::string::npos) {
                if (!ParseHead(received.substr(0, headEnd + 2), response))
                    return;
                auto length = response.headers.find("content-length");
                wanted = length != response.headers.end() ? std::strtoull(length->second.c_str(), nullptr, 10) : 0;
            }
        }
    }
    if (headEnd != std::string::npos && received.size() >= headEnd + 4 + wanted) {
        response.body = received.substr(headEnd + 4, wanted);
        response.received = true;
    }
}

// portAtConnect: the local port is chosen by connect() instead of bind(),
// whose search through the ports in use (tens of thousands under the abuse
// benchmark) took the client more CPU than the exchange itself. Connections
// opened with ConnectFrom keep bind()'s choice: the benchmark's slow
// connections, reopened some 2,000 times a second, ran out of ports after
// about 26,000 with the choice at connect().
bool ConnectSocket(int fd, const char* source, int port, bool portAtConnect)
{
    if (fd < 0)
        return false;
    if (source != nullptr) {
        if (portAtConnect) {
            int yes = 1;
            setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &yes, sizeof yes);
        }
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
    if (fd >= 0 && !ConnectSocket(fd, source, port, false)) {
        close(fd);
        return -1;
    }
    return fd;
}

RawResponse ExchangeRaw(int port, const std::string& request, int timeoutMs)
{
    return ExchangeRawFrom(nullptr, port, request, timeoutMs);
}

RawResponse ExchangeRawFrom(const char* source, int port, const std::string& request, int timeoutMs, SSL_CTX* tls)
{
    RawResponse response;
    if (tls != nullptr) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        RawConnection connection;
        if (!connection.Open(source, port, tls, timeoutMs) || !connection.Send(request))
            return response;
        ReadResponse(
            response,
            [&]() {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
                return static_cast<int>(std::max<long long>(0, left.count()));
            },
            [&](char* buffer, size_t size, int waitMs) -> ssize_t {
                std::string got;
                const int n = connection.Receive(got, waitMs);
                std::copy(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(std::min(got.size(), size)), buffer);
                return n;
            });
        return response;
    }
    Socket sock;
    if (!ConnectSocket(sock.Get(), source, port, true))
        return response;

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    auto remainingMs = [&]() {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                std::chrono::steady_clock::now());
        return static_cast<int>(std::max<long long>(0, left.count()));
    };

    // Send what the server takes; it may answer and stop reading early.
    size_t sent = 0;
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

    ReadResponse(response, remainingMs, [&](char* buffer, size_t size, int waitMs) -> ssize_t {
        pollfd fd = {sock.Get(), POLLIN, 0};
        if (poll(&fd, 1, waitMs) <= 0)
            return -1;
        return recv(sock.Get(), buffer, size, 0);
    });
    return response;
}

SSL_CTX* MakeTlsClientContext()
{
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (context != nullptr)
        SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    return context;
}

RawConnection::~RawConnection()
{
    if (m_ssl != nullptr)
        SSL_free(m_ssl);
    if (m_fd >= 0)
        close(m_fd);
    ERR_clear_error();
}

bool RawConnection::Open(const char* source, int port, SSL_CTX* tls, int timeoutMs)
{
    m_fd = ConnectFrom(source, port);
    if (m_fd < 0)
        return false;
    const timeval timeout = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (tls == nullptr)
        return true;
    m_ssl = SSL_new(tls);
    return m_ssl != nullptr && SSL_set_fd(m_ssl, m_fd) == 1 && SSL_connect(m_ssl) == 1;
}

bool RawConnection::Send(const std::string& bytes)
{
    if (m_ssl == nullptr)
        return m_fd >= 0 && send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    return SSL_write(m_ssl, bytes.data(), static_cast<int>(bytes.size())) == static_cast<int>(bytes.size());
}

int RawConnection::Receive(std::string& into, int waitMs)
{
    if (m_fd < 0)
        return 0;
    if (m_ssl == nullptr || SSL_pending(m_ssl) == 0) {
        pollfd fd = {m_fd, POLLIN, 0};
        if (poll(&fd, 1, waitMs) <= 0)
            return -1;
    }
    char buffer[16384];
    const int got = m_ssl != nullptr ? SSL_read(m_ssl, buffer, sizeof buffer)
                                     : static_cast<int>(recv(m_fd, buffer, sizeof buffer, 0));
    if (got <= 0)
        return 0;
    into.append(buffer, static_cast<size_t>(got));
    return got;
}
