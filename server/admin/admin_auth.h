// Passwords, session tokens and the throttle on failed log-ins of the
// maintainers' interface. Passwords are hashed with Argon2id (libsodium);
// tokens are 256 random bits, of which the store keeps only a digest.
#pragma once

#include <chrono>
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

// A log-in attempt as the throttle judged it.
struct LoginVerdict
{
    bool allowed = false;
    int retryAfter = 0;         // when refused: whole seconds until one failure ages out
    double delaySeconds = 0;    // when allowed: how long to wait before checking the password
};

// Failed log-ins, at most maxFailures in any window of windowSeconds per
// address and per name-and-address pair; one used up refuses the attempt.
// Per name alone, failures from anywhere only slow its log-ins by a delay
// that grows with them: no one else's failures can lock a maintainer out.
// Thread-safe; in memory.
class LoginThrottle
{
public:
    LoginThrottle(int maxFailures, double windowSeconds, size_t maxKeys = 100000);

    // Judges an attempt and, when it is allowed, counts it as failed at
    // once: parallel attempts cannot all pass before one is counted.
    // Forgive takes the count back when the password was right.
    LoginVerdict Begin(const std::string& name, const std::string& address, double now);

    void Forgive(const std::string& name, const std::string& address);

private:
    int CountRecent(const std::string& key, double now, double& oldest);
    void Record(const std::string& key, double now, size_t keep);

    int m_maxFailures;
    double m_windowSeconds;
    size_t m_maxKeys;
    std::mutex m_mutex;
    // "a:" address key, "p:" address key and name, "n:" name
    std::map<std::string, std::deque<double>> m_failures;
};

// At most two password hashes at a time: each takes 64 MiB, and a flood of
// log-ins must not take the server's memory. Holds a slot for its life,
// once Acquired.
class PasswordHashSlot
{
public:
    PasswordHashSlot() = default;
    ~PasswordHashSlot();
    PasswordHashSlot(const PasswordHashSlot&) = delete;
    PasswordHashSlot& operator=(const PasswordHashSlot&) = delete;

    // Waits up to wait for a slot; false when none came free, or when too
    // many already wait.
    bool Acquire(std::chrono::milliseconds wait);

private:
    bool m_held = false;
};

const int kPasswordHashSlots = 2;
