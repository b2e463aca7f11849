// One guarded connection's bytes: the request head by its deadline, the
// body at the minimum rate, answers gathered into few sends.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>

#include "server/net/serve_limits.h"
#include "server/net/transports.h"

typedef std::chrono::steady_clock Clock;

// One connection's bytes, read with the head deadline and the body rate.
class GuardedStream : public httplib::Stream
{
public:
    GuardedStream(socket_t sock, Transport& transport, const ServeLimits& limits, time_t readTimeoutSeconds,
                  time_t writeTimeoutSeconds, const std::atomic<socket_t>& listener, int stopEvent);

    // A new request: its head must be complete by the deadline. The first
    // one's starts with the connection, so a TLS handshake counts in it.
    void StartHead();
    void StartBody();

    // The transport's opening (the TLS handshake) by the head's deadline;
    // false when it failed or was cut off.
    bool Open();

    // Waits up to timeout for the next request of a kept-alive connection;
    // one already read (pipelined, or held by TLS) needs no wait.
    bool WaitForNextRequest(Clock::duration timeout);

    void HoldAnswer() { m_holdAnswer = true; }

    // Waits out delay before a held answer goes (less if the client hangs
    // up or the server stops).
    void ReleaseHeldAnswer(Clock::duration delay);

    // Why the stream was cut off; empty while it is not.
    const std::string& CutOffReason() const { return m_cutOff; }
    bool HeadStarted() const { return m_headBytes > 0 || m_inBody; }

    bool is_readable() const override;

    bool is_writable() const override;

    ssize_t read(char* ptr, size_t size) override;

    // Like read, but a large read goes straight into ptr instead of
    // through the stream's buffer: a body of megabytes in a few calls.
    ssize_t ReadLarge(char* ptr, size_t size);

    // Small writes are gathered and go out together (an answer's head and
    // body in one send, so one segment and one wake-up of the client) when
    // the stream next reads, waits or closes.
    ssize_t write(const char* ptr, size_t size) override;

    // Sends what write gathered; false when it could not all go.
    bool Flush();

    // Asked for by every request; read from the socket once.
    void get_remote_ip_and_port(std::string& ip, int& port) const override;

    void get_local_ip_and_port(std::string& ip, int& port) const override;
    socket_t socket() const override { return m_sock; }

private:
    struct Sample
    {
        Clock::time_point time;
        uint64_t total;
    };
    bool SendAll(const char* data, size_t size);

    bool IsStopping() const;

    // Waits until the socket is ready for events, until end at the latest;
    // false at end, on a stop or an error.
    bool WaitFor(short events, Clock::time_point end);

    // Refills the buffer; false when nothing more can be read.
    bool Fill();

    // Some bytes into into, by the deadlines: their count, 0 once the peer
    // has closed, -1 on failure or cut-off.
    ssize_t Receive(char* into, size_t capacity);
    void Count(size_t bytes, Clock::time_point now);

    // The head by its deadline; the body, after the grace period, at the
    // minimum rate over the last window.
    bool KeepsPace(Clock::time_point now);

    void ReadAddress(bool remote, std::string& ip, int& port) const;

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
