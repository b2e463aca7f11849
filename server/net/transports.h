// The two transports of a guarded connection: plain TCP and TLS.
#pragma once

#include <httplib.h>
#include <openssl/ssl.h>

#include <sys/types.h>

// A transport that cannot go on until its socket is ready.
const ssize_t kWouldBlock = -2;

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

    ssize_t Receive(char* buffer, size_t size, short& wait) override;

    ssize_t Send(const char* data, size_t size, short& wait) override;

    bool HasBuffered() const override { return false; }

private:
    socket_t m_sock;
};

// TLS as the server's side of it; the handshake is Open.
class TlsTransport : public Transport
{
public:
    TlsTransport(SSL_CTX* context, socket_t sock);

    ~TlsTransport() override;

    int Open(short& wait) override;

    ssize_t Receive(char* buffer, size_t size, short& wait) override;

    ssize_t Send(const char* data, size_t size, short& wait) override;

    // Decrypted bytes, or a record read but not yet decrypted: poll() would
    // not see either.
    bool HasBuffered() const override { return m_ssl != nullptr && SSL_has_pending(m_ssl) == 1; }

private:
    ssize_t Interpret(int rc, short& wait);

    SSL* m_ssl;
    bool m_usable = false;
};

void MakeNonBlocking(socket_t sock);
