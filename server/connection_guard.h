// Connections served so that slow clients cannot hold the server: a
// deadline for each request head, a minimum rate for bodies after a grace
// period, a cap on connections per address, and workers added as
// connections need them (up to a cap) instead of a fixed pool of 8.
//
// httplib reads every connection through a Stream on a worker thread; this
// server serves each connection through its own Stream that enforces the
// deadlines, so a trickling client is cut off by its deadline instead of
// holding a worker for as long as it sends a byte before each read timeout.
#pragma once

#include <httplib.h>

#include <map>
#include <mutex>
#include <string>

#include "server/serve_limits.h"

class RefusalLog;

class GuardedServer : public httplib::Server
{
public:
    // log (may be null) gets one line per connection the guard refuses or
    // cuts off.
    GuardedServer(const ServeLimits& limits, RefusalLog* log);

    // Connections open now from address (as GetAddressKey gives it).
    int CountConnections(const std::string& address);

private:
    bool process_and_close_socket(socket_t sock) override;

    bool AdmitConnection(const std::string& address);
    void ReleaseConnection(const std::string& address);
    bool WaitForNextRequest(socket_t sock);

    ServeLimits m_limits;
    RefusalLog* m_log;
    std::mutex m_mutex;
    std::map<std::string, int> m_connections;  // per address key
};

// Called once the current request's head is read (pre-routing and
// 100-continue handlers): its body is held to the minimum rate from now.
// Does nothing outside a GuardedServer's connection.
void MarkRequestHeadRead();

// True when the guard has cut off the current connection; its request was
// not answered, and the guard has logged why.
bool IsConnectionCutOff();

// Raises the soft limit of open files to the hard one: each connection
// takes a descriptor. Returns the limit now in force.
unsigned long RaiseOpenFileLimit();
