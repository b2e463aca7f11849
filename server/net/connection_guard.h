// Connections served so that slow clients cannot hold the server: a
// deadline for each request head, a minimum rate for bodies after a grace
// period, a cap on connections per address, and workers added as
// connections need them (up to a cap) instead of a fixed pool of 8.
//
// httplib reads every connection through a Stream on a worker thread; this
// server serves each connection through its own Stream that enforces the
// deadlines, so a trickling client is cut off by its deadline instead of
// holding a worker for as long as it sends a byte before each read timeout.
// The same Stream carries HTTPS (UseTls): the address is admitted before
// any handshake, and the handshake counts against the first head's deadline.
#pragma once

#include <httplib.h>

#include <map>
#include <mutex>
#include <string>

#include "server/net/serve_limits.h"

class RefusalLog;

class GuardedServer : public httplib::Server
{
public:
    // log (may be null) gets one line per connection the guard refuses or
    // cuts off.
    GuardedServer(const ServeLimits& limits, RefusalLog* log);
    ~GuardedServer() override;

    // Serves HTTPS with the PEM certificate chain and key (no pass phrase)
    // instead of plain HTTP; false, with error one line, when OpenSSL will
    // not take them. Call before listening.
    bool UseTls(const std::string& certPath, const std::string& keyPath, std::string& error);

    // Connections open now from address (as GetAddressKey gives it).
    int CountConnections(const std::string& address);

private:
    bool process_and_close_socket(socket_t sock) override;

    bool AdmitConnection(const std::string& address);
    void ReleaseConnection(const std::string& address);

    ServeLimits m_limits;
    RefusalLog* m_log;
    int m_stopEvent;              // readable once listening has ended
    SSL_CTX* m_tls = nullptr;     // null: plain HTTP
    std::mutex m_mutex;
    std::map<std::string, int> m_connections;  // per address key
};

// Called once the current request's head is read (pre-routing and
// 100-continue handlers): its body is held to the minimum rate from now.
// Does nothing outside a GuardedServer's connection.
void MarkRequestHeadRead();

// Called when the current request is refused for its address's rate: the
// answer goes out only after the rate refusal delay, so that a client that
// floods refused requests waits instead of keeping a worker busy. Does
// nothing outside a GuardedServer's connection.
void HoldAnswer();

// True inside a GuardedServer's connection, where ReadRequestBody works.
bool IsGuardedConnection();

// Reads up to size bytes of the current request's body straight into into,
// held to the same deadlines and rate as every read: the count read, 0 once
// the client has closed, -1 on failure or cut-off (or outside a
// GuardedServer's connection). For a body of known length that the handler
// reads whole itself instead of through httplib's reader.
ssize_t ReadRequestBody(char* into, size_t size);

// True when the guard has cut off the current connection; its request was
// not answered, and the guard has logged why.
bool IsConnectionCutOff();

// Raises the soft limit of open files to the hard one: each connection
// takes a descriptor. Returns the limit now in force.
unsigned long RaiseOpenFileLimit();
