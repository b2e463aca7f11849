#include "server/admin/admin_auth.h"

#include <sodium.h>

#include <cmath>

#include "server/net/rate_limiter.h"

namespace {

std::string MakeHex(const unsigned char* bytes, size_t size)
{
    std::string hex(size * 2 + 1, '\0');
    sodium_bin2hex(&hex[0], hex.size(), bytes, size);
    hex.resize(size * 2);
    return hex;
}

// Verified against when the name is unknown; made once.
std::string g_decoyHash;

}  // namespace

bool StartPasswordHashing()
{
    if (sodium_init() < 0)
        return false;
    if (g_decoyHash.empty()) {
        const std::string decoy = MakeRandomToken();
        if (!HashPassword(decoy, g_decoyHash))
            return false;
    }
    return true;
}

bool HashPassword(const std::string& password, std::string& hash)
{
    char text[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(text, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        return false;
    hash = text;
    sodium_memzero(text, sizeof text);
    return true;
}

bool VerifyPassword(const std::string& password, const std::string& hash)
{
    if (hash.empty()) {
        const int ignored = crypto_pwhash_str_verify(g_decoyHash.c_str(), password.data(), password.size());
        (void)ignored;
        return false;
    }
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

std::string MakeRandomToken()
{
    unsigned char bytes[32];
    randombytes_buf(bytes, sizeof bytes);
    return MakeHex(bytes, sizeof bytes);
}

std::string DigestToken(const std::string& token)
{
    unsigned char digest[crypto_generichash_BYTES];
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(token.data()), token.size(),
                       nullptr, 0);
    return MakeHex(digest, sizeof digest);
}

bool AreTokensEqual(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && !a.empty() && sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

LoginThrottle::LoginThrottle(int maxFailures, double windowSeconds, size_t maxKeys)
    : m_maxFailures(maxFailures), m_windowSeconds(windowSeconds), m_maxKeys(maxKeys)
{
}

int LoginThrottle::CountRecent(const std::string& key, double now, double& oldest)
{
    auto found = m_failures.find(key);
    if (found == m_failures.end())
        return 0;
    std::deque<double>& times = found->second;
    while (!times.empty() && times.front() <= now - m_windowSeconds)
        times.pop_front();
    if (times.empty()) {
        m_failures.erase(found);
        return 0;
    }
    oldest = times.front();
    return static_cast<int>(times.size());
}

bool LoginThrottle::IsThrottled(const std::string& name, const std::string& address, double now, int& retryAfter)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    bool throttled = false;
    retryAfter = 0;
    for (const std::string& key : {"n:" + name, "a:" + GetAddressKey(address)}) {
        double oldest = now;
        if (CountRecent(key, now, oldest) >= m_maxFailures) {
            throttled = true;
            const int wait = static_cast<int>(std::ceil(oldest + m_windowSeconds - now));
            retryAfter = std::max(retryAfter, std::max(wait, 1));
        }
    }
    return throttled;
}

void LoginThrottle::Record(const std::string& key, double now)
{
    if (m_failures.size() >= m_maxKeys && m_failures.find(key) == m_failures.end()) {
        // Full: drop the keys whose windows have passed, else the oldest key.
        for (auto it = m_failures.begin(); it != m_failures.end();) {
            if (it->second.empty() || it->second.back() <= now - m_windowSeconds)
                it = m_failures.erase(it);
            else
                ++it;
        }
        if (m_failures.size() >= m_maxKeys)
            m_failures.erase(m_failures.begin());
    }
    std::deque<double>& times = m_failures[key];
    times.push_back(now);
    while (static_cast<int>(times.size()) > m_maxFailures)
        times.pop_front();
}

void LoginThrottle::RecordFailure(const std::string& name, const std::string& address, double now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Record("n:" + name, now);
    Record("a:" + GetAddressKey(address), now);
}
