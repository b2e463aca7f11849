// Passwords, session tokens and the throttle on failed log-ins of the
// maintainers' interface. Passwords are hashed with Argon2id (libsodium);
// tokens are 256 random bits, of which the store keeps only a digest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>

// Must run once before anything below; false when libsodium cannot start.
bool StartPasswordHashing();

// crypto_pwhash_str's text for password; false when out of memory.
bool HashPassword(const std::string& password, std::string& hash);

// True when password matches hash. An empty hash never matches but takes
// as long as one that does, so an unknown name cannot be told by timing.
bool VerifyPassword(const std::string& password, const std::string& hash);

// 64 hex digits of fresh random bytes.
std::string MakeRandomToken();

// The hex digest of a token, as sessions are stored.
std::string DigestToken(const std::string& token);

// Compares in a time that does not depend on where the texts differ.
bool AreTokensEqual(const std::string& a, const std::string& b);

// Failed log-ins per account name and per address: at most maxFailures in
// any window of windowSeconds each. Thread-safe; in memory.
class LoginThrottle
{
public:
    LoginThrottle(int maxFailures, double windowSeconds, size_t maxKeys = 100000);

    // True when either key has used up its failures; retryAfter then says
    // in how many whole seconds one ends its window.
    bool IsThrottled(const std::string& name, const std::string& address, double now, int& retryAfter);

    void RecordFailure(const std::string& name, const std::string& address, double now);

private:
    int CountRecent(const std::string& key, double now, double& oldest);
    void Record(const std::string& key, double now);

    int m_maxFailures;
    double m_windowSeconds;
    size_t m_maxKeys;
    std::mutex m_mutex;
    std::map<std::string, std::deque<double>> m_failures;  // "n:" name or "a:" address key
};
