#include "server/connection_guard.h"

#include <errno.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <list>
#include <thread>

#include "server/listen_address.h"
#include "server/rate_limiter.h"
#include "server/refusal_log.h"

namespace {

typedef std::chrono::steady_clock Clock;

// The slice a wait is cut into, so that a stop is noticed soon.
const auto kWaitSlice = std::chrono::milliseconds(200);
// Requests waiting in the kernel for accept(); httplib asks for 5.
const int kAcceptBacklog = 1024;

// Workers started as connections arrive and none is free, up to a cap;
// they stay for the server's life. httplib's own pool has a fixed 8.
class GrowingPool : public httplib::TaskQueue
{
public:
    explicit GrowingPool(size_t maxThreads) : m_maxThreads(std::max<size_t>(1, maxThreads)) {}
    ~GrowingPool() override { shutdown(); }

    void enqueue(std::function<void()> fn) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.push_back(std::move(fn));
        if (m_jobs.size() > m_idle && m_threads.size() < m_maxThreads) {
            try {
                m_threads.emplace_back([this] { Work(); });
            } catch (const std::system_error&) {
                // Out of threads: the job waits for a busy worker.
            }
        }
        m_changed.notify_one();
    }

    void shutdown() override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_shutdown)
                return;
            m_shutdown = true;
        }
        m_changed.notify_all();
        for (std::thread& thread : m_threads)
            thread.join();
    }

private:
    void Work()
    {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                ++m_idle;
                m_changed.wait(lock, [this] { return !m_jobs.empty() || m_shutdown; });
                --m_idle;
                if (m_jobs.empty())
                    return;  // shut down, every job done
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
            }
            job();
        }
    }

    size_t m_maxThreads;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_jobs;
    std::list<std::thread> m_threads;
    size_t m_idle = 0;
    bool m_shutdown = false;
};

std::string FormatSeconds(int seconds)
{
    return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

// One connection's bytes, read with the head deadline and the body rate.
class GuardedStream : public httplib::Stream
{
public:
    GuardedStream(socket_t sock, const ServeLimits& limits, time_t readTimeoutSeconds, time_t writeTimeoutSeconds,
                  const std::atomic<socket_t>& listener)
        : m_sock(sock),
          m_limits(limits),
          m_readTimeout(std::chrono::seconds(std::max<time_t>(1, readTimeoutSeconds))),
          m_writeTimeout(std::chrono::seconds(std::max<time_t>(1, writeTimeoutSeconds))),
          m_listener(listener)
    {
    }

    // A new request: its head must be complete by the deadline.
    void StartHead()
    {
        m_inBody = false;
        m_headBytes = 0;
        m_headDeadline = Clock::now() + std::chrono::seconds(m_limits.headerSeconds);
    }

    void StartBody()
    {
        if (m_inBody)
            return;
        m_inBody = true;
        m_bodyStart = Clock::now();
        m_bodyBytes = 0;
        m_samples.clear();
        m_samples.push_back(Sample{m_bodyStart, 0});
    }

    // Why the stream was cut off; empty while it is not.
    const std::string& CutOffReason() const { return m_cutOff; }
    bool HeadStarted() const { return m_headBytes > 0 || m_inBody; }

    bool is_readable() const override
    {
        if (m_readPos < m_readEnd)
            return true;
        pollfd p = {m_sock, POLLIN, 0};
        return m_cutOff.empty() && poll(&p, 1, 0) > 0;
    }

    bool is_writable() const override
    {
        pollfd p = {m_sock, POLLOUT, 0};
        return m_cutOff.empty() && poll(&p, 1, static_cast<int>(m_writeTimeout.count() * 1000)) > 0;
    }

    ssize_t read(char* ptr, size_t size) override
    {
        if (m_readPos == m_readEnd && !Fill())
            return m_cutOff.empty() && m_peerClosed ? 0 : -1;
        const size_t n = std::min(size, m_readEnd - m_readPos);
        std::copy(m_buffer + m_readPos, m_buffer + m_readPos + n, ptr);
        m_readPos += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override
    {
        size_t sent = 0;
        const auto end = Clock::now() + m_writeTimeout;
        while (sent < size) {
            if (!m_cutOff.empty() || !WaitFor(POLLOUT, end))
                return sent > 0 ? static_cast<ssize_t>(sent) : -1;
            const ssize_t n = send(m_sock, ptr + sent, size - sent, MSG_NOSIGNAL);
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0)
                return sent > 0 ? static_cast<ssize_t>(sent) : -1;
            sent += static_cast<size_t>(n);
        }
        return static_cast<ssize_t>(sent);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { ReadAddress(true, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { ReadAddress(false, ip, port); }
    socket_t socket() const override { return m_sock; }

private:
    struct Sample
    {
        Clock::time_point time;
        uint64_t total;
    };

    // Waits until the socket is ready for events or end; false at end, on
    // a stop or an error.
    bool WaitFor(short events, Clock::time_point end)
    {
        for (;;) {
            if (m_listener == INVALID_SOCKET)
                return false;
            const auto now = Clock::now();
            if (now >= end)
                return false;
            const auto slice = std::min<Clock::duration>(end - now, kWaitSlice);
            pollfd p = {m_sock, events, 0};
            const int ready =
                poll(&p, 1, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(slice).count()) + 1);
            if (ready > 0)
                return true;
            if (ready < 0 && errno != EINTR)
                return false;
        }
    }

    // Refills the buffer; false when nothing more can be read.
    bool Fill()
    {
        m_readPos = m_readEnd = 0;
        if (!m_cutOff.empty() || m_peerClosed)
            return false;
        const auto idleEnd = Clock::now() + m_readTimeout;
        for (;;) {
            const auto now = Clock::now();
            if (!KeepsPace(now))
                return false;
            if (now >= idleEnd) {
                if (HeadStarted() || m_firstRequest)
                    m_cutOff = "sent nothing for " +
                               FormatSeconds(static_cast<int>(
                                   std::chrono::duration_cast<std::chrono::seconds>(m_readTimeout).count()));
                return false;
            }
            // Wake at the next moment the pace could fail, at the latest.
            auto until = std::min(idleEnd, now + kWaitSlice);
            if (!m_inBody)
                until = std::min(until, m_headDeadline);
            if (!WaitFor(POLLIN, until)) {
                if (m_listener == INVALID_SOCKET)
                    return false;
                continue;
            }
            const ssize_t n = recv(m_sock, m_buffer, sizeof m_buffer, 0);
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0) {
                m_peerClosed = n == 0;
                return false;
            }
            Count(static_cast<size_t>(n), Clock::now());
            m_readEnd = static_cast<size_t>(n);
            return true;
        }
    }

    void Count(size_t bytes, Clock::time_point now)
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

    // The head by its deadline; the body, after the grace period, at the
    // minimum rate over the last window.
    bool KeepsPace(Clock::time_point now)
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

    void ReadAddress(bool remote, std::string& ip, int& port) const
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

    socket_t m_sock;
    const ServeLimits& m_limits;
    Clock::duration m_readTimeout;
    Clock::duration m_writeTimeout;
    const std::atomic<socket_t>& m_listener;

    char m_buffer[16384];
    size_t m_readPos = 0;
    size_t m_readEnd = 0;
    bool m_peerClosed = false;
    bool m_firstRequest = true;

    bool m_inBody = false;
    Clock::time_point m_headDeadline;
    size_t m_headBytes = 0;
    Clock::time_point m_bodyStart;
    uint64_t m_bodyBytes = 0;
    std::deque<Sample> m_samples;
    std::string m_cutOff;
};

thread_local GuardedStream* g_stream = nullptr;  // the worker's connection

void WriteRefusal(RefusalLog* log, const std::string& ip, int port, const std::string& reason)
{
    if (log != nullptr)
        log->WriteRefusal(FormatHostPort(ip, port), reason);
}

}  // namespace

GuardedServer::GuardedServer(const ServeLimits& limits, RefusalLog* log) : m_limits(limits), m_log(log)
{
    new_task_queue = [this]() -> httplib::TaskQueue* {
        // Called as listening begins, on a bound socket: listen() again only
        // lengthens its queue, so a burst of connections does not leave
        // honest clients waiting out SYN retries.
        ::listen(svr_sock_, kAcceptBacklog);
        return new GrowingPool(static_cast<size_t>(m_limits.maxConnections));
    };
}

int GuardedServer::CountConnections(const std::string& address)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_connections.find(address);
    return found != m_connections.end() ? found->second : 0;
}

bool GuardedServer::AdmitConnection(const std::string& address)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int& count = m_connections[address];
    if (m_limits.connectionsPerAddress > 0 && count >= m_limits.connectionsPerAddress) {
        if (count == 0)
            m_connections.erase(address);
        return false;
    }
    ++count;
    return true;
}

void GuardedServer::ReleaseConnection(const std::string& address)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_connections.find(address);
    if (found != m_connections.end() && --found->second <= 0)
        m_connections.erase(found);
}

bool GuardedServer::WaitForNextRequest(socket_t sock)
{
    const auto end = Clock::now() + std::chrono::seconds(keep_alive_timeout_sec_);
    while (svr_sock_ != INVALID_SOCKET && Clock::now() < end) {
        pollfd p = {sock, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(kWaitSlice.count()));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
    return false;
}

bool GuardedServer::process_and_close_socket(socket_t sock)
{
    // httplib writes an answer's head and body separately: with Nagle's
    // algorithm the body would wait for the client to acknowledge the head,
    // which a client delays (40 ms on Linux, 200 ms on Windows) after each
    // request of a kept-alive connection.
    int noDelay = 1;
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    GuardedStream stream(sock, m_limits, read_timeout_sec_, write_timeout_sec_, svr_sock_);
    std::string ip;
    int port = 0;
    stream.get_remote_ip_and_port(ip, port);
    const std::string address = GetAddressKey(ip);

    bool served = false;
    if (!AdmitConnection(address)) {
        static const char kAnswer[] =
            "HTTP/1.1 503 Service Unavailable\r\n"
            "Content-Type: text/plain\r\n"
            "Content-Length: 39\r\n"
            "Retry-After: 10\r\n"
            "Connection: close\r\n"
            "\r\n"
            "too many connections from your address\n";
        stream.write(kAnswer, sizeof kAnswer - 1);
        WriteRefusal(m_log, ip, port,
                     "over " + std::to_string(m_limits.connectionsPerAddress) + " connections from one address");
    } else {
        g_stream = &stream;
        size_t left = keep_alive_max_count_;
        for (bool first = true; svr_sock_ != INVALID_SOCKET && left > 0; first = false, --left) {
            if (!first && !WaitForNextRequest(sock))
                break;
            stream.StartHead();
            bool closed = false;
            served = process_request(stream, left == 1, closed, nullptr);
            if (!stream.CutOffReason().empty()) {
                WriteRefusal(m_log, ip, port, "connection closed: " + stream.CutOffReason());
                break;
            }
            if (!served || closed)
                break;
        }
        g_stream = nullptr;
        ReleaseConnection(address);
    }
    shutdown(sock, SHUT_RDWR);
    close(sock);
    return served;
}

void MarkRequestHeadRead()
{
    if (g_stream != nullptr)
        g_stream->StartBody();
}

bool IsConnectionCutOff()
{
    return g_stream != nullptr && !g_stream->CutOffReason().empty();
}

unsigned long RaiseOpenFileLimit()
{
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    return static_cast<unsigned long>(limit.rlim_cur);
}
