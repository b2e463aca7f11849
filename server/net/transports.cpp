#include "server/net/transports.h"

#include <errno.h>
#include <fcntl.h>
#include <openssl/err.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <climits>

ssize_t PlainTransport::Receive(char* buffer, size_t size, short& wait)
{
    const ssize_t n = recv(m_sock, buffer, size, 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        wait = POLLIN;
        return kWouldBlock;
    }
    return n < 0 ? -1 : n;
}

ssize_t PlainTransport::Send(const char* data, size_t size, short& wait)
{
    const ssize_t n = send(m_sock, data, size, MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        wait = POLLOUT;
        return kWouldBlock;
    }
    return n < 0 ? -1 : n;
}

TlsTransport::TlsTransport(SSL_CTX* context, socket_t sock) : m_ssl(SSL_new(context))
{
    if (m_ssl != nullptr && SSL_set_fd(m_ssl, static_cast<int>(sock)) != 1) {
        SSL_free(m_ssl);
        m_ssl = nullptr;
    }
}

TlsTransport::~TlsTransport()
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

int TlsTransport::Open(short& wait)
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

ssize_t TlsTransport::Receive(char* buffer, size_t size, short& wait)
{
    ERR_clear_error();
    const int n = SSL_read(m_ssl, buffer, static_cast<int>(std::min<size_t>(size, INT_MAX)));
    return n > 0 ? n : Interpret(n, wait);
}

ssize_t TlsTransport::Send(const char* data, size_t size, short& wait)
{
    ERR_clear_error();
    const int n = SSL_write(m_ssl, data, static_cast<int>(std::min<size_t>(size, INT_MAX)));
    return n > 0 ? n : Interpret(n, wait);
}

ssize_t TlsTransport::Interpret(int rc, short& wait)
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

void MakeNonBlocking(socket_t sock)
{
    const int flags = fcntl(sock, F_GETFL, 0);
    if (flags >= 0)
        fcntl(sock, F_SETFL, flags | O_NONBLOCK);
}
