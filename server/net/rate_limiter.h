// Per-address request rates as token buckets, in memory: a restart forgets
// them (see docs/server.md).
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "server/net/serve_limits.h"

// One bucket per rule, full at first; a request takes a token from each.
class RateBuckets
{
public:
    RateBuckets() = default;
    RateBuckets(const RateLimit& limit, double now);

    // Takes a token from every bucket, or none and sets retryAfter (whole
    // seconds until every bucket has one again).
    bool Take(const RateLimit& limit, double now, int& retryAfter);

    // True when every bucket is full again: the entry can be forgotten.
    bool IsFull(const RateLimit& limit, double now) const;

private:
    std::vector<double> m_tokens;
    double m_updated = 0;
};

class AddressRateLimiter
{
public:
    // maxAddresses bounds the memory a flood from many addresses can take.
    explicit AddressRateLimiter(const RateLimit& limit, size_t maxAddresses = 100000);

    bool IsOff() const { return m_limit.empty(); }

    // now in seconds on any steady clock. Thread-safe.
    bool Take(const std::string& address, double now, int& retryAfter);

    size_t CountAddresses();

private:
    void Prune(double now);

    RateLimit m_limit;
    size_t m_maxAddresses;
    std::mutex m_mutex;
    std::map<std::string, RateBuckets> m_addresses;
};

// The key an address is limited under: IPv4 as it is, IPv6 by its /64
// (one subscriber's prefix), IPv4-mapped IPv6 as IPv4.
std::string GetAddressKey(const std::string& address);

// Seconds on the steady clock.
double GetSteadySeconds();
