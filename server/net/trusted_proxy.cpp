#include "server/net/trusted_proxy.h"

#include <arpa/inet.h>
#include <strings.h>

#include <algorithm>
#include <cstring>

#include "server/base/ascii_text.h"
#include "server/base/decimal_text.h"

namespace {

// The address in canonical text, or empty when text is none; IPv4 mapped
// into IPv6 as IPv4.
std::string NormalizeAddress(const std::string& text, AddressBlock* block = nullptr)
{
    AddressBlock parsed;
    char out[INET6_ADDRSTRLEN];
    if (inet_pton(AF_INET, text.c_str(), parsed.bytes) == 1) {
        parsed.bits = 32;
    } else if (inet_pton(AF_INET6, text.c_str(), parsed.bytes) == 1) {
        static const unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
        if (std::memcmp(parsed.bytes, kMapped, sizeof kMapped) == 0) {
            std::memmove(parsed.bytes, parsed.bytes + 12, 4);
            std::memset(parsed.bytes + 4, 0, 12);
            parsed.bits = 32;
        } else {
            parsed.ipv6 = true;
            parsed.bits = 128;
        }
    } else {
        return std::string();
    }
    if (block != nullptr)
        *block = parsed;
    return inet_ntop(parsed.ipv6 ? AF_INET6 : AF_INET, parsed.bytes, out, sizeof out) != nullptr ? out : "";
}

bool IsInBlock(const AddressBlock& address, const AddressBlock& block)
{
    if (address.ipv6 != block.ipv6)
        return false;
    const int whole = block.bits / 8;
    if (std::memcmp(address.bytes, block.bytes, static_cast<size_t>(whole)) != 0)
        return false;
    const int rest = block.bits % 8;
    const unsigned char mask = static_cast<unsigned char>(0xff << (8 - rest));
    return rest == 0 || (address.bytes[whole] & mask) == (block.bytes[whole] & mask);
}

// One hop of a chain as an address: bare, bracketed IPv6, quoted, with a
// port after either; empty when it is none ("unknown", "_hidden").
std::string ReadHop(std::string hop)
{
    hop = TrimSpacesAndTabs(hop);
    if (hop.size() >= 2 && hop.front() == '"' && hop.back() == '"')
        hop = hop.substr(1, hop.size() - 2);
    if (!hop.empty() && hop.front() == '[') {
        const size_t close = hop.find(']');
        return close == std::string::npos ? std::string() : NormalizeAddress(hop.substr(1, close - 1));
    }
    const size_t colon = hop.find(':');
    if (colon != std::string::npos && hop.find(':', colon + 1) == std::string::npos)
        hop = hop.substr(0, colon);  // IPv4 with a port
    return NormalizeAddress(hop);
}

// The chain's hops, leftmost first: X-Forwarded-For's items, or the for=
// of each element of Forwarded.
std::vector<std::string> SplitChain(const std::string& forwardedFor, const std::string& forwarded)
{
    std::vector<std::string> hops;
    const bool useForwarded = forwardedFor.empty();
    const std::string& list = useForwarded ? forwarded : forwardedFor;
    for (size_t start = 0; start <= list.size();) {
        const size_t comma = std::min(list.find(',', start), list.size());
        std::string item = list.substr(start, comma - start);
        start = comma + 1;
        if (useForwarded) {
            std::string found;
            for (size_t at = 0; at <= item.size();) {
                const size_t semicolon = std::min(item.find(';', at), item.size());
                const std::string pair = TrimSpacesAndTabs(item.substr(at, semicolon - at));
                at = semicolon + 1;
                if (pair.size() > 4 && strncasecmp(pair.c_str(), "for=", 4) == 0)
                    found = pair.substr(4);
            }
            item = found;
        }
        hops.push_back(item);
    }
    return hops;
}

}  // namespace

bool ParseAddressBlock(const std::string& text, AddressBlock& block, std::string& error)
{
    const size_t slash = text.find('/');
    if (NormalizeAddress(text.substr(0, slash), &block).empty()) {
        error = "bad address '" + text + "': expected ADDR or ADDR/BITS with a numeric IPv4 or IPv6 address";
        return false;
    }
    if (slash != std::string::npos) {
        uint64_t bits = 0;
        if (!ParseDecimalDigits(text.substr(slash + 1), 3, bits) || bits > static_cast<uint64_t>(block.bits)) {
            error = "bad prefix length in '" + text + "': expected 0 to " + std::to_string(block.bits);
            return false;
        }
        block.bits = static_cast<int>(bits);
    }
    return true;
}

bool IsInAddressBlocks(const std::string& ip, const std::vector<AddressBlock>& blocks)
{
    AddressBlock address;
    if (blocks.empty() || NormalizeAddress(ip, &address).empty())
        return false;
    for (const AddressBlock& block : blocks) {
        if (IsInBlock(address, block))
            return true;
    }
    return false;
}

std::string FindForwardedClient(const std::string& peer, const std::string& forwardedFor,
                                const std::string& forwarded, const std::vector<AddressBlock>& trusted)
{
    if (!IsInAddressBlocks(peer, trusted) || (forwardedFor.empty() && forwarded.empty()))
        return peer;
    std::string client = peer;
    const std::vector<std::string> hops = SplitChain(forwardedFor, forwarded);
    for (auto hop = hops.rbegin(); hop != hops.rend(); ++hop) {
        const std::string address = ReadHop(*hop);
        if (address.empty())
            break;
        client = address;
        if (!IsInAddressBlocks(address, trusted))
            break;
    }
    return client;
}
