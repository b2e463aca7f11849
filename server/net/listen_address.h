// The --listen argument: ADDR:PORT with a numeric IPv4 or bracketed IPv6
// address.
#pragma once

#include <string>

struct ListenAddress
{
    std::string host;  // as httplib binds it: "127.0.0.1", "::1"
    int port = 0;      // 0: any free port, shown once bound
};

const char kDefaultListenAddress[] = "127.0.0.1:8080";
const char kDefaultAdminListenAddress[] = "127.0.0.1:8081";

// Accepts "127.0.0.1:8080", "0.0.0.0:80", "[::1]:8080", port 0 to 65535.
bool ParseListenAddress(const std::string& text, ListenAddress& address, std::string& error);

// "127.0.0.1:8080" or "[::1]:8080": how addresses and peers are shown.
std::string FormatHostPort(const std::string& host, int port);
