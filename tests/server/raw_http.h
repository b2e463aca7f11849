// HTTP over a plain socket, for what a library client would hide: the exact
// bytes of an answer, an answer before the body is sent, bodies that lie.
#pragma once

#include <openssl/ssl.h>

#include <map>
#include <string>

struct RawResponse
{
    bool received = false;  // a whole response arrived
    int status = 0;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
};

// Connects to 127.0.0.1:port, sends request and reads one response
// (headers and Content-Length bytes of body), at most timeoutMs.
RawResponse ExchangeRaw(int port, const std::string& request, int timeoutMs = 10000);

// The same from a given loopback source address ("127.0.0.2": another
// client as far as the server can tell); nullptr: any.
// With tls (a client context), over TLS.
RawResponse ExchangeRawFrom(const char* source, int port, const std::string& request, int timeoutMs = 10000,
                            SSL_CTX* tls = nullptr);

// A connected socket to 127.0.0.1:port from source (nullptr: any), or -1.
// The caller closes it.
int ConnectFrom(const char* source, int port);

// A client context that takes any server certificate: for tests of what
// the server does with a connection, not of whom it proves to be. The
// caller frees it (SSL_CTX_free).
SSL_CTX* MakeTlsClientContext();

// One client connection, plain or TLS, for tests that send at their own
// pace and watch for the server closing it.
class RawConnection
{
public:
    RawConnection() = default;
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    // Connects to 127.0.0.1:port from source (nullptr: any); with tls,
    // completes the handshake too. Sends and the handshake give up after
    // timeoutMs. False when the server refused or closed first.
    bool Open(const char* source, int port, SSL_CTX* tls = nullptr, int timeoutMs = 10000);
    // Sends all of bytes; false once the connection is gone.
    bool Send(const std::string& bytes);
    // Appends what has arrived within waitMs: the count, 0 when the server
    // closed the connection, -1 when nothing came.
    int Receive(std::string& into, int waitMs);

private:
    int m_fd = -1;
    SSL* m_ssl = nullptr;
};
