// The client behind a reverse proxy: for a connection from a proxy the
// server trusts, the address the proxy says it serves, not the proxy's.
#pragma once

#include <string>
#include <vector>

// An address block: "10.0.0.0/8", "::1", "2001:db8::/32".
struct AddressBlock
{
    bool ipv6 = false;
    unsigned char bytes[16] = {};
    int bits = 0;
};

// ADDR or ADDR/BITS; false with error one line.
bool ParseAddressBlock(const std::string& text, AddressBlock& block, std::string& error);

// True when ip (numeric; IPv4 mapped into IPv6 counts as IPv4) is in one
// of blocks.
bool IsInAddressBlocks(const std::string& ip, const std::vector<AddressBlock>& blocks);

// The client of a request that came from peer: peer itself unless peer is
// trusted; then, walking the proxies' chain (X-Forwarded-For, or the for=
// of Forwarded without it) from its right end, the first address that is
// not itself trusted. Where the chain ends or has a hop that is no
// address, the last trusted hop is the client.
std::string FindForwardedClient(const std::string& peer, const std::string& forwardedFor,
                                const std::string& forwarded, const std::vector<AddressBlock>& trusted);
