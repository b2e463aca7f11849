#include "server/net/connection_guard.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include "server/net/growing_pool.h"
#include "server/net/guarded_stream.h"
#include "server/net/listen_address.h"
#include "server/net/refusal_log.h"
#include "server/net/transports.h"

namespace {

// Requests waiting in the kernel for accept(); httplib asks for 5.
const int kAcceptBacklog = 1024;

// How long a connection closed with the client's bytes unread drains them
// so that its last answer is not lost to a reset.
const std::chrono::milliseconds kLingerTime(2000);

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
    bool linger = false;
    {
        GuardedStream stream(sock, *transport, m_limits, read_timeout_sec_, write_timeout_sec_, svr_sock_,
                             m_stopEvent);
        std::string ip;
        int port = 0;
        stream.get_remote_ip_and_port(ip, port);
        const std::string address = GetAddressKey(ip);

        // Admitted by address before any handshake: a refused client costs
        // no TLS work, and over TLS it gets no answer it could read.
        // A trusted proxy carries many clients' connections; their own
        // limits apply to each request instead.
        const bool fromTrustedProxy = IsInAddressBlocks(ip, m_limits.trustedProxies);
        if (!fromTrustedProxy && !AdmitConnection(address)) {
            static const char kAnswer[] =
                "HTTP/1.1 503 Service Unavailable\r\n"
                "Content-Type: text/plain; charset=utf-8\r\n"
                "X-Content-Type-Options: nosniff\r\n"
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
                HeadVerdict head;
                if (!stream.ReadHead(head))
                    break;
                // httplib would read such a body to its end only to drop it.
                if (head.status == 0 && head.contentLength > payload_max_length_) {
                    head.status = 413;
                    head.reason = "body of " + std::to_string(head.contentLength) + " bytes is over the limit of " +
                                  std::to_string(payload_max_length_) + " bytes";
                }
                if (head.status != 0) {
                    stream.RefuseRequest(head.status, head.reason);
                    WriteRefusal(m_log, ip, port, std::to_string(head.status) + " " + head.reason);
                    break;
                }
                stream.SetBodyLimit(payload_max_length_);
                stream.SetClientAddress(
                    FindForwardedClient(ip, head.forwardedFor, head.forwarded, m_limits.trustedProxies));
                bool closed = false;
                served = process_request(stream, left == 1, closed, nullptr);
                stream.ReleaseHeldAnswer(std::chrono::seconds(m_limits.rateRefusalDelaySeconds));
                if (!stream.CutOffReason().empty() || !served || closed || stream.ClosesAfterAnswer())
                    break;
            }
            linger = stream.CutOffReason().empty() && stream.EndsWithUnreadBytes();
            if (!stream.CutOffReason().empty())
                WriteRefusal(m_log, ip, port, "connection closed: " + stream.CutOffReason());
            g_stream = nullptr;
            if (!fromTrustedProxy)
                ReleaseConnection(address);
        }
        stream.Flush();
    }
    transport.reset();  // its close_notify before the socket goes
    if (linger)
        DrainBeforeClose(sock, kLingerTime);
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
