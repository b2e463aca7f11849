#include "server/base/decimal_text.h"
#include "server/net/listen_address.h"

#include <arpa/inet.h>

#include <cctype>

static bool ParsePort(const std::string& text, int& port)
{
    uint64_t value = 0;
    if (!ParseDecimalDigits(text, 5, value) || value > 65535)
        return false;
    port = static_cast<int>(value);
    return true;
}

bool ParseListenAddress(const std::string& text, ListenAddress& address, std::string& error)
{
    error = "bad listen address '" + text + "': expected ADDR:PORT, e.g. 127.0.0.1:8080 or [::1]:8080";

    std::string host;
    std::string port;
    bool v6 = false;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
            return false;
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
        v6 = true;
    } else {
        const size_t colon = text.rfind(':');
        if (colon == std::string::npos)
            return false;
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }

    unsigned char binary[16];
    if (inet_pton(v6 ? AF_INET6 : AF_INET, host.c_str(), binary) != 1) {
        error = "bad listen address '" + text + "': '" + host + "' is not a numeric " +
                (v6 ? "IPv6" : "IPv4") + " address";
        return false;
    }
    if (!ParsePort(port, address.port)) {
        error = "bad listen address '" + text + "': port must be a number from 0 to 65535";
        return false;
    }
    address.host = host;
    error.clear();
    return true;
}

std::string FormatHostPort(const std::string& host, int port)
{
    if (host.find(':') != std::string::npos)
        return "[" + host + "]:" + std::to_string(port);
    return host + ":" + std::to_string(port);
}
