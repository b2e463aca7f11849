#include "server/net/rate_limiter.h"

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

RateBuckets::RateBuckets(const RateLimit& limit, double now) : m_updated(now)
{
    for (const RateRule& rule : limit)
        m_tokens.push_back(rule.count);
}

bool RateBuckets::Take(const RateLimit& limit, double now, int& retryAfter)
{
    const double elapsed = std::max(0.0, now - m_updated);
    m_updated = now;
    bool allowed = true;
    double wait = 0;
    for (size_t i = 0; i < limit.size(); ++i) {
        const double perSecond = limit[i].count / limit[i].seconds;
        m_tokens[i] = std::min(limit[i].count, m_tokens[i] + elapsed * perSecond);
        if (m_tokens[i] < 1) {
            allowed = false;
            wait = std::max(wait, (1 - m_tokens[i]) / perSecond);
        }
    }
    if (!allowed) {
        retryAfter = std::max(1, static_cast<int>(std::ceil(wait - 1e-6)));  // not one more for rounding
        return false;
    }
    for (double& tokens : m_tokens)
        tokens -= 1;
    return true;
}

bool RateBuckets::IsFull(const RateLimit& limit, double now) const
{
    const double elapsed = std::max(0.0, now - m_updated);
    for (size_t i = 0; i < limit.size(); ++i) {
        if (m_tokens[i] + elapsed * limit[i].count / limit[i].seconds < limit[i].count)
            return false;
    }
    return true;
}

AddressRateLimiter::AddressRateLimiter(const RateLimit& limit, size_t maxAddresses)
    : m_limit(limit), m_maxAddresses(std::max<size_t>(1, maxAddresses))
{
}

bool AddressRateLimiter::Take(const std::string& address, double now, int& retryAfter)
{
    if (m_limit.empty())
        return true;
    std::lock_guard<std::mutex> lock(m_mutex);
    auto found = m_addresses.find(address);
    if (found == m_addresses.end()) {
        if (m_addresses.size() >= m_maxAddresses)
            Prune(now);
        found = m_addresses.emplace(address, RateBuckets(m_limit, now)).first;
    }
    return found->second.Take(m_limit, now, retryAfter);
}

size_t AddressRateLimiter::CountAddresses()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_addresses.size();
}

void AddressRateLimiter::Prune(double now)
{
    for (auto it = m_addresses.begin(); it != m_addresses.end();) {
        if (it->second.IsFull(m_limit, now))
            it = m_addresses.erase(it);
        else
            ++it;
    }
    // Still full of addresses that are all in use: forget some rather than
    // grow without bound; they start over with full buckets.
    while (m_addresses.size() >= m_maxAddresses)
        m_addresses.erase(m_addresses.begin());
}

std::string GetAddressKey(const std::string& address)
{
    in6_addr ip6;
    if (inet_pton(AF_INET6, address.c_str(), &ip6) != 1)
        return address;
    static const unsigned char kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    char text[INET6_ADDRSTRLEN];
    if (std::memcmp(ip6.s6_addr, kMappedPrefix, sizeof kMappedPrefix) == 0) {
        in_addr ip4;
        std::memcpy(&ip4, ip6.s6_addr + 12, 4);
        return inet_ntop(AF_INET, &ip4, text, sizeof text) != nullptr ? text : address;
    }
    std::memset(ip6.s6_addr + 8, 0, 8);
    if (inet_ntop(AF_INET6, &ip6, text, sizeof text) == nullptr)
        return address;
    return std::string(text) + "/64";
}

double GetSteadySeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
