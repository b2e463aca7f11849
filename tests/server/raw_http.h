// HTTP over a plain socket, for what a library client would hide: the exact
// bytes of an answer, an answer before the body is sent, bodies that lie.
#pragma once

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
RawResponse ExchangeRawFrom(const char* source, int port, const std::string& request, int timeoutMs = 10000);

// A connected socket to 127.0.0.1:port from source (nullptr: any), or -1.
// The caller closes it.
int ConnectFrom(const char* source, int port);
