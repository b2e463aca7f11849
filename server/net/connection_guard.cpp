#include "server/connection_guard.h"

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <list>
#include <memory>
#include <thread>

#include "server/listen_address.h"
#include "server/rate_limiter.h"
#include "server/refusal_log.h"

namespace {

typedef std::chrono::steady_clock Clock;

// Requests waiting in the kernel for accept(); httplib asks for 5.
const int kAcceptBacklog = 1024;
// How often a body's pace is checked while nothing arrives: a wait ends at
// a deadline, when data comes or when the server stops, never on a timer of
// its own, so an idle connection costs no wake-ups.
const auto kPaceCheck = std::chrono::seconds(1);
// A transport that cannot go on until its socket is ready.
const ssize_t kWouldBlock = -2;

// Workers started as connections arrive and none is free, up to a cap;
// they stay for the server's life. httplib's own pool has a fixed 8. Its
// shutdown (the end of listening) signals stopEvent first, so that workers
// waiting on slow clients let go at once.
class GrowingPool : public httplib::TaskQueue
{
public:
    GrowingPool(size_t maxThreads, int stopEvent) : m_maxThreads(std::max<size_t>(1, maxThreads)), m_stopEvent(stopEvent)
    {
    }
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
        const uint64_t one = 1;
        if (write(m_stopEvent, &one, sizeof one) < 0) {
            // Already signalled to its limit: it stays readable either way.
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
    int m_stopEvent;
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

// How a connection's bytes move: socket calls, or TLS records over them.
// The socket is non-blocking; a call that cannot go on returns kWouldBlock
// and sets wait to the readiness (POLLIN or POLLOUT) to wait for.
class Transport
{
public:
    virtual ~Transport() {}
    // Whatever must happen before the first byte of HTTP: 1 when done, -1
    // when the connection cannot be used.
    virtual int Open(short& wait) = 0;
    // Bytes read (> 0), 0 when the peer closed, -1 on an error.
    virtual ssize_t Receive(char* buffer, size_t size, short& wait) = 0;
    virtual ssize_t Send(const char* data, size_t size, short& wait) = 0;
    // Bytes already taken from the socket that Receive has yet to give.
    virtual bool HasBuffered() const = 0;
};

class PlainTransport : public Transport
{
public:
    explicit PlainTransport(socket_t sock) : m_sock(sock) {}

    int Open(short&) override { return 1; }

    ssize_t Receive(char* buffer, size_t size, short& wait) override
    {
        const ssize_t n = recv(m_sock, buffer, size, 0);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            wait = POLLIN;
            return kWouldBlock;
        }
        return n < 0 ? -1 : n;
    }

    ssize_t Send(const char* data, size_t size, short& wait) override
    {
        const ssize_t n = send(m_sock, data, size, MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            wait = POLLOUT;
            return kWouldBlock;
        }
        return n < 0 ? -1 : n;
    }

    bool HasBuffered() const override { return false; }

private:
    socket_t m_sock;
};

// TLS as the server's side of it; the handshake is Open.
class TlsTransport : public Transport
{
public:
    TlsTransport(SSL_CTX* context, socket_t sock) : m_ssl(SSL_new(context))
    {
        if (m_ssl != nullptr && SSL_set_fd(m_ssl, static_cast<int>(sock)) != 1) {
            SSL_free(m_ssl);
            m_ssl = nullptr;
        }
    }

    ~TlsTransport() override
    {
        if (m_ssl != nullptr) {
            // A close_notify if the socket takes it now; no waiting for the
            // peer's.
            if (m_usable)
                SSL_shutdown(m_ssl);
            SSL_free(m_ssl);
        }
        ERR_clear_error();
    }

    int Open(short& wait) override
    {
        if (m_ssl == nullptr)
            return -1;
        ERR_clear_error();
        const int rc = SSL_accept(m_ssl);
        if (rc == 1) {
            m_usable = true;
            return 1;
        }
        return static_cast<int>(Interpret(rc, wait));
    }

    ssize_t Receive(char* buffer, size_t size, short& wait) override
    {
        ERR_clear_error();
        const int n = SSL_read(m_ssl, buffer, static_cast<int>(std::min<size_t>(size, INT_MAX)));
        return n > 0 ? n : Interpret(n, wait);
    }

    ssize_t Send(const char* data, size_t size, short& wait) override
    {
        ERR_clear_error();
        const int n = SSL_write(m_ssl, data, static_cast<int>(std::min<size_t>(size, INT_MAX)));
        return n > 0 ? n : Interpret(n, wait);
    }

    // Decrypted bytes, or a record read but not yet decrypted: poll() would
    // not see either.
    bool HasBuffered() const override { return m_ssl != nullptr && SSL_has_pending(m_ssl) == 1; }

private:
    ssize_t Interpret(int rc, short& wait)
    {
        switch (SSL_get_error(m_ssl, rc)) {
        case SSL_ERROR_WANT_READ:
            wait = POLLIN;
            return kWouldBlock;
        case SSL_ERROR_WANT_WRITE:
            wait = POLLOUT;
            return kWouldBlock;
        case SSL_ERROR_ZERO_RETURN:
            return 0;  // the peer's close_notify
        default:
            m_usable = false;  // no close_notify after a broken stream
            return -1;
        }
    }

    SSL* m_ssl;
    bool m_usable = false;
};

// One connection's bytes, read with the head deadline and the body rate.
class GuardedStream : public httplib::Stream
{
public:
    GuardedStream(socket_t sock, Transport& transport, const ServeLimits& limits, time_t readTimeoutSeconds,
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

    // A new request: its head must be complete by the deadline. The first
    // one's starts with the connection, so a TLS handshake counts in it.
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

    // The transport's opening (the TLS handshake) by the head's deadline;
    // false when it failed or was cut off.
    bool Open()
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

    // Waits up to timeout for the next request of a kept-alive connection;
    // one already read (pipelined, or held by TLS) needs no wait.
    bool WaitForNextRequest(Clock::duration timeout)
    {
        if (!Flush())
            return false;
        if (m_readPos < m_readEnd || m_transport.HasBuffered())
            return true;
        return WaitFor(POLLIN, Clock::now() + timeout);
    }

    void HoldAnswer() { m_holdAnswer = true; }

    // Waits out delay before a held answer goes (less if the client hangs
    // up or the server stops).
    void ReleaseHeldAnswer(Clock::duration delay)
    {
        if (!m_holdAnswer)
            return;
        m_holdAnswer = false;
        WaitFor(POLLRDHUP, Clock::now() + delay);
    }

    // Why the stream was cut off; empty while it is not.
    const std::string& CutOffReason() const { return m_cutOff; }
    bool HeadStarted() const { return m_headBytes > 0 || m_inBody; }

    bool is_readable() const override
    {
        if (m_readPos < m_readEnd || m_transport.HasBuffered())
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

    // Like read, but a large read goes straight into ptr instead of
    // through the stream's buffer: a body of megabytes in a few calls.
    ssize_t ReadLarge(char* ptr, size_t size)
    {
        if (m_readPos < m_readEnd || size < sizeof m_buffer)
            return read(ptr, size);
        return Receive(ptr, size);
    }

    // Small writes are gathered and go out together (an answer's head and
    // body in one send, so one segment and one wake-up of the client) when
    // the stream next reads, waits or closes.
    ssize_t write(const char* ptr, size_t size) override
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

    // Sends what write gathered; false when it could not all go.
    bool Flush()
    {
        const size_t length = m_outLength;
        m_outLength = 0;
        return length == 0 || SendAll(m_out, length);
    }

    // Asked for by every request; read from the socket once.
    void get_remote_ip_and_port(std::string& ip, int& port) const override
    {
        if (m_remotePort < 0)
            ReadAddress(true, m_remoteIp, m_remotePort);
        ip = m_remoteIp;
        port = m_remotePort;
    }

    void get_local_ip_and_port(std::string& ip, int& port) const override
    {
        if (m_localPort < 0)
            ReadAddress(false, m_localIp, m_localPort);
        ip = m_localIp;
        port = m_localPort;
    }
    socket_t socket() const override { return m_sock; }

private:
    struct Sample
    {
        Clock::time_point time;
        uint64_t total;
    };

    bool SendAll(const char* data, size_t size)
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

    bool IsStopping() const
    {
        if (m_listener == INVALID_SOCKET)
            return true;
        pollfd p = {m_stopEvent, POLLIN, 0};
        return poll(&p, 1, 0) > 0;
    }

    // Waits until the socket is ready for events, until end at the latest;
    // false at end, on a stop or an error.
    bool WaitFor(short events, Clock::time_point end)
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

    // Refills the buffer; false when nothing more can be read.
    bool Fill()
    {
        m_readPos = m_readEnd = 0;
        const ssize_t n = Receive(m_buffer, sizeof m_buffer);
        if (n <= 0)
            return false;
        m_readEnd = static_cast<size_t>(n);
        return true;
    }

    // Some bytes into into, by the deadlines: their count, 0 once the peer
    // has closed, -1 on failure or cut-off.
    ssize_t Receive(char* into, size_t capacity)
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
    Transport& m_transport;
    const ServeLimits& m_limits;
    Clock::duration m_readTimeout;
    Clock::duration m_writeTimeout;
    const std::atomic<socket_t>& m_listener;
    int m_stopEvent;

    mutable std::string m_remoteIp;
    mutable int m_remotePort = -1;
    mutable std::string m_localIp;
    mutable int m_localPort = -1;

    char m_buffer[16384];
    char m_out[16384];
    size_t m_outLength = 0;
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
    bool m_holdAnswer = false;
};

thread_local GuardedStream* g_stream = nullptr;  // the worker's connection

void WriteRefusal(RefusalLog* log, const std::string& ip, int port, const std::string& reason)
{
    if (log != nullptr)
        log->WriteRefusal(FormatHostPort(ip, port), reason);
}

// A key with a pass phrase would otherwise make OpenSSL ask on the terminal.
int RefusePassPhrase(char*, int, int, void*)
{
    return 0;
}

void MakeNonBlocking(socket_t sock)
{
    const int flags = fcntl(sock, F_GETFL, 0);
    if (flags >= 0)
        fcntl(sock, F_SETFL, flags | O_NONBLOCK);
}

}  // namespace

GuardedServer::GuardedServer(const ServeLimits& limits, RefusalLog* log)
    : m_limits(limits), m_log(log), m_stopEvent(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    new_task_queue = [this]() -> httplib::TaskQueue* {
        // Called as listening begins, on a bound socket: listen() again only
        // lengthens its queue, so a burst of connections does not leave
        // honest clients waiting out SYN retries.
        ::listen(svr_sock_, kAcceptBacklog);
        return new GrowingPool(static_cast<size_t>(m_limits.maxConnections), m_stopEvent);
    };
}

GuardedServer::~GuardedServer()
{
    if (m_tls != nullptr)
        SSL_CTX_free(m_tls);
    if (m_stopEvent >= 0)
        close(m_stopEvent);
}

bool GuardedServer::UseTls(const std::string& certPath, const std::string& keyPath, std::string& error)
{
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    bool usable = context != nullptr;
    if (usable) {
        SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
        SSL_CTX_set_options(context, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION);
        SSL_CTX_set_default_passwd_cb(context, RefusePassPhrase);
        usable = SSL_CTX_use_certificate_chain_file(context, certPath.c_str()) == 1 &&
                 SSL_CTX_use_PrivateKey_file(context, keyPath.c_str(), SSL_FILETYPE_PEM) == 1 &&
                 SSL_CTX_check_private_key(context) == 1;
    }
    if (!usable) {
        char reason[256] = "no TLS context";
        const unsigned long code = ERR_peek_last_error();
        if (code != 0)
            ERR_error_string_n(code, reason, sizeof reason);
        ERR_clear_error();
        SSL_CTX_free(context);
        error = "cannot set up TLS with '" + certPath + "' and '" + keyPath + "': " + reason;
        return false;
    }
    if (m_tls != nullptr)
        SSL_CTX_free(m_tls);
    m_tls = context;
    return true;
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

bool GuardedServer::process_and_close_socket(socket_t sock)
{
    // Whatever part of an answer goes out in a send of its own must not wait
    // under Nagle's algorithm for the client's delayed acknowledgement of the
    // part before (40 ms on Linux, 200 ms on Windows, on every request of a
    // kept-alive connection).
    int noDelay = 1;
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    MakeNonBlocking(sock);
    std::unique_ptr<Transport> transport;
    if (m_tls != nullptr)
        transport.reset(new TlsTransport(m_tls, sock));
    else
        transport.reset(new PlainTransport(sock));
    bool served = false;
    {
        GuardedStream stream(sock, *transport, m_limits, read_timeout_sec_, write_timeout_sec_, svr_sock_,
                             m_stopEvent);
        std::string ip;
        int port = 0;
        stream.get_remote_ip_and_port(ip, port);
        const std::string address = GetAddressKey(ip);

        // Admitted by address before any handshake: a refused client costs
        // no TLS work, and over TLS it gets no answer it could read.
        if (!AdmitConnection(address)) {
            static const char kAnswer[] =
                "HTTP/1.1 503 Service Unavailable\r\n"
                "Content-Type: text/plain\r\n"
                "Content-Length: 39\r\n"
                "Retry-After: 10\r\n"
                "Connection: close\r\n"
                "\r\n"
                "too many connections from your address\n";
            if (m_tls == nullptr)
                stream.write(kAnswer, sizeof kAnswer - 1);
            WriteRefusal(m_log, ip, port,
                         "over " + std::to_string(m_limits.connectionsPerAddress) + " connections from one address");
        } else {
            g_stream = &stream;
            stream.StartHead();
            const bool opened = stream.Open();
            size_t left = opened ? keep_alive_max_count_ : 0;
            for (bool first = true; svr_sock_ != INVALID_SOCKET && left > 0; first = false, --left) {
                if (!first) {
                    if (!stream.WaitForNextRequest(std::chrono::seconds(keep_alive_timeout_sec_)))
                        break;
                    stream.StartHead();
                }
                bool closed = false;
                served = process_request(stream, left == 1, closed, nullptr);
                stream.ReleaseHeldAnswer(std::chrono::seconds(m_limits.rateRefusalDelaySeconds));
                if (!stream.CutOffReason().empty() || !served || closed)
                    break;
            }
            if (!stream.CutOffReason().empty())
                WriteRefusal(m_log, ip, port, "connection closed: " + stream.CutOffReason());
            g_stream = nullptr;
            ReleaseConnection(address);
        }
        stream.Flush();
    }
    transport.reset();  // its close_notify before the socket goes
    shutdown(sock, SHUT_RDWR);
    close(sock);
    return served;
}

void MarkRequestHeadRead()
{
    if (g_stream != nullptr)
        g_stream->StartBody();
}

void HoldAnswer()
{
    if (g_stream != nullptr)
        g_stream->HoldAnswer();
}

bool IsGuardedConnection()
{
    return g_stream != nullptr;
}

ssize_t ReadRequestBody(char* into, size_t size)
{
    return g_stream != nullptr ? g_stream->ReadLarge(into, size) : -1;
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
