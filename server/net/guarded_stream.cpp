#include "server/net/guarded_stream.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace {

// How often a body's pace is checked while nothing arrives: a wait ends at
// a deadline, when data comes or when the server stops, never on a timer of
// its own, so an idle connection costs no wake-ups.
const auto kPaceCheck = std::chrono::seconds(1);

std::string FormatSeconds(int seconds)
{
    return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

}  // namespace

GuardedStream::GuardedStream(socket_t sock, Transport& transport, const ServeLimits& limits, time_t readTimeoutSeconds,
                             time_t writeTimeoutSeconds, const std::atomic<socket_t>& listener, int stopEvent)
    : m_sock(sock),
      m_transport(transport),
      m_limits(limits),
      m_readTimeout(std::chrono::seconds(std::max<time_t>(1, readTimeoutSeconds))),
      m_writeTimeout(std::chrono::seconds(std::max<time_t>(1, writeTimeoutSeconds))),
      m_listener(listener),
      m_stopEvent(stopEvent)
{
}

void GuardedStream::StartHead()
{
    m_inBody = false;
    m_headBytes = 0;
    m_headDeadline = Clock::now() + std::chrono::seconds(m_limits.headerSeconds);
}

void GuardedStream::StartBody()
{
    if (m_inBody)
        return;
    m_inBody = true;
    m_bodyStart = Clock::now();
    m_bodyBytes = 0;
    m_samples.clear();
    m_samples.push_back(Sample{m_bodyStart, 0});
}

bool GuardedStream::Open()
{
    short wait = 0;
    for (;;) {
        const int rc = m_transport.Open(wait);
        if (rc == 1)
            return true;
        if (rc != kWouldBlock)
            return false;  // not TLS, or broken: closed without a word
        if (!WaitFor(wait, m_headDeadline)) {
            if (!IsStopping() && Clock::now() >= m_headDeadline)
                m_cutOff = "TLS handshake not complete within " + FormatSeconds(m_limits.headerSeconds);
            return false;
        }
    }
}

bool GuardedStream::WaitForNextRequest(Clock::duration timeout)
{
    if (!Flush())
        return false;
    if (m_readPos < m_readEnd || m_transport.HasBuffered())
        return true;
    return WaitFor(POLLIN, Clock::now() + timeout);
}

void GuardedStream::ReleaseHeldAnswer(Clock::duration delay)
{
    if (!m_holdAnswer)
        return;
    m_holdAnswer = false;
    WaitFor(POLLRDHUP, Clock::now() + delay);
}

bool GuardedStream::is_readable() const
{
    if (m_readPos < m_readEnd || m_transport.HasBuffered())
        return true;
    pollfd p = {m_sock, POLLIN, 0};
    return m_cutOff.empty() && poll(&p, 1, 0) > 0;
}

bool GuardedStream::is_writable() const
{
    pollfd p = {m_sock, POLLOUT, 0};
    return m_cutOff.empty() && poll(&p, 1, static_cast<int>(m_writeTimeout.count() * 1000)) > 0;
}

ssize_t GuardedStream::read(char* ptr, size_t size)
{
    if (m_readPos == m_readEnd && !Fill())
        return m_cutOff.empty() && m_peerClosed ? 0 : -1;
    const size_t n = std::min(size, m_readEnd - m_readPos);
    std::copy(m_buffer + m_readPos, m_buffer + m_readPos + n, ptr);
    m_readPos += n;
    return static_cast<ssize_t>(n);
}

ssize_t GuardedStream::ReadLarge(char* ptr, size_t size)
{
    if (m_readPos < m_readEnd || size < sizeof m_buffer)
        return read(ptr, size);
    return Receive(ptr, size);
}

ssize_t GuardedStream::write(const char* ptr, size_t size)
{
    if (!m_cutOff.empty())
        return -1;
    if (m_outLength + size <= sizeof m_out) {
        std::copy(ptr, ptr + size, m_out + m_outLength);
        m_outLength += size;
        return static_cast<ssize_t>(size);
    }
    if (!Flush())
        return -1;
    if (size <= sizeof m_out)
        return write(ptr, size);
    return SendAll(ptr, size) ? static_cast<ssize_t>(size) : -1;
}

bool GuardedStream::Flush()
{
    const size_t length = m_outLength;
    m_outLength = 0;
    return length == 0 || SendAll(m_out, length);
}

void GuardedStream::get_remote_ip_and_port(std::string& ip, int& port) const
{
    if (m_remotePort < 0)
        ReadAddress(true, m_remoteIp, m_remotePort);
    ip = m_remoteIp;
    port = m_remotePort;
}

void GuardedStream::get_local_ip_and_port(std::string& ip, int& port) const
{
    if (m_localPort < 0)
        ReadAddress(false, m_localIp, m_localPort);
    ip = m_localIp;
    port = m_localPort;
}

bool GuardedStream::SendAll(const char* data, size_t size)
{
    size_t sent = 0;
    const auto end = Clock::now() + m_writeTimeout;
    short wait = 0;  // try first: a socket is mostly ready to take bytes
    while (sent < size && m_cutOff.empty()) {
        if (wait != 0 && !WaitFor(wait, end))
            break;
        const ssize_t n = m_transport.Send(data + sent, size - sent, wait);
        if (n == kWouldBlock)
            continue;
        if (n <= 0)
            break;
        sent += static_cast<size_t>(n);
        wait = 0;
    }
    return sent == size;
}

bool GuardedStream::IsStopping() const
{
    if (m_listener == INVALID_SOCKET)
        return true;
    pollfd p = {m_stopEvent, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
}

bool GuardedStream::WaitFor(short events, Clock::time_point end)
{
    for (;;) {
        const auto now = Clock::now();
        if (now >= end || m_listener == INVALID_SOCKET)
            return false;
        pollfd p[2] = {{m_sock, events, 0}, {m_stopEvent, POLLIN, 0}};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count() + 1;
        const int ready = poll(p, 2, static_cast<int>(std::min<long long>(left, INT_MAX)));
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready > 0)
            return p[1].revents == 0 && p[0].revents != 0;
    }
}

bool GuardedStream::Fill()
{
    m_readPos = m_readEnd = 0;
    const ssize_t n = Receive(m_buffer, sizeof m_buffer);
    if (n <= 0)
        return false;
    m_readEnd = static_cast<size_t>(n);
    return true;
}

ssize_t GuardedStream::Receive(char* into, size_t capacity)
{
    if (!m_cutOff.empty() || m_peerClosed || !Flush())
        return m_cutOff.empty() && m_peerClosed ? 0 : -1;
    const auto idleEnd = Clock::now() + m_readTimeout;
    short wait = m_transport.HasBuffered() ? 0 : POLLIN;
    for (;;) {
        const auto now = Clock::now();
        if (!KeepsPace(now))
            return -1;
        if (now >= idleEnd) {
            if (HeadStarted() || m_firstRequest)
                m_cutOff = "sent nothing for " +
                           FormatSeconds(static_cast<int>(
                               std::chrono::duration_cast<std::chrono::seconds>(m_readTimeout).count()));
            return -1;
        }
        if (wait != 0) {
            // Wake at the next moment the pace could fail, at the latest.
            const auto until = std::min(idleEnd, m_inBody ? now + kPaceCheck : m_headDeadline);
            if (!WaitFor(wait, until)) {
                if (IsStopping())
                    return -1;
                continue;
            }
        }
        const ssize_t n = m_transport.Receive(into, capacity, wait);
        if (n == kWouldBlock)
            continue;
        if (n <= 0) {
            m_peerClosed = n == 0;
            return n == 0 ? 0 : -1;
        }
        Count(static_cast<size_t>(n), Clock::now());
        return n;
    }
}

void GuardedStream::Count(size_t bytes, Clock::time_point now)
{
    m_firstRequest = false;
    if (!m_inBody) {
        m_headBytes += bytes;
        return;
    }
    m_bodyBytes += bytes;
    // Samples 100 ms apart at most are merged: the deque stays short.
    if (m_samples.size() > 1 && now - m_samples.back().time < std::chrono::milliseconds(100))
        m_samples.back().total = m_bodyBytes;
    else
        m_samples.push_back(Sample{now, m_bodyBytes});
}

bool GuardedStream::KeepsPace(Clock::time_point now)
{
    if (!m_inBody) {
        if (now < m_headDeadline)
            return true;
        m_cutOff = "request head not complete within " + FormatSeconds(m_limits.headerSeconds);
        return false;
    }
    if (m_limits.bodyMinRate == 0 || now - m_bodyStart < std::chrono::seconds(m_limits.bodyGraceSeconds))
        return true;
    const auto window = std::min<Clock::duration>(std::chrono::seconds(m_limits.bodyWindowSeconds),
                                                  now - m_bodyStart);
    const auto windowStart = now - window;
    while (m_samples.size() > 1 && m_samples[1].time <= windowStart)
        m_samples.pop_front();
    const uint64_t received = m_bodyBytes - m_samples.front().total;
    const double needed = static_cast<double>(m_limits.bodyMinRate) * std::chrono::duration<double>(window).count();
    if (static_cast<double>(received) >= needed)
        return true;
    m_cutOff = "body slower than " + std::to_string(m_limits.bodyMinRate) + " bytes a second over " +
               FormatSeconds(m_limits.bodyWindowSeconds);
    return false;
}

void GuardedStream::ReadAddress(bool remote, std::string& ip, int& port) const
{
    sockaddr_storage address;
    socklen_t length = sizeof address;
    const int rc = remote ? getpeername(m_sock, reinterpret_cast<sockaddr*>(&address), &length)
                          : getsockname(m_sock, reinterpret_cast<sockaddr*>(&address), &length);
    char host[NI_MAXHOST] = "";
    char service[NI_MAXSERV] = "0";
    if (rc == 0)
        getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, service, sizeof service,
                    NI_NUMERICHOST | NI_NUMERICSERV);
    ip = host;
    port = std::atoi(service);
}
