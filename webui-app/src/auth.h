#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <string>

// The administrator's password, the sessions and the login rate limit.
//
// There is no default password: until the first visit sets one, the only thing the page can do is
// set it. The password is kept as an Argon2id hash string (libsodium: random salt, cost in the
// string) in one file, replaced atomically.

inline constexpr const char* kPasswordFile = "/etc/vantor-webui-password";
inline constexpr std::size_t kPasswordMin = 8;
inline constexpr std::size_t kPasswordMax = 128;

using webui_clock = std::chrono::steady_clock;

class PasswordStore {
public:
    // True when a password has been set.
    bool is_set() const;
    // Sets the first password; false when one is set already or it cannot be stored.
    bool set_first(const std::string& password);
    bool verify(const std::string& password) const;
};

// Empty when `password` is acceptable as the administrator's; the reason otherwise.
std::string password_refusal(const std::string& password);

struct session_info {
    std::string csrf;
    webui_clock::time_point last_used;
};

// Sessions live in memory only: a restart logs everybody out. A session ends after an idle hour.
class Sessions {
public:
    // A new session; returns its identifier (the cookie value).
    std::string create(webui_clock::time_point now);
    // The CSRF token of a live session, refreshing its idle time; empty when none.
    std::string touch(const std::string& id, webui_clock::time_point now);
    void end(const std::string& id);

    static constexpr std::size_t kMaxSessions = 16;
    static constexpr std::chrono::minutes kIdle{60};

private:
    std::mutex m_mutex;
    std::map<std::string, session_info> m_sessions;
};

// At most kAttempts failed logins in any kWindow, whatever address they come from (an attacker
// has many addresses, the camera one administrator); beyond that every login is refused until the
// oldest failure leaves the window.
class LoginLimiter {
public:
    static constexpr std::size_t kAttempts = 5;
    static constexpr std::chrono::seconds kWindow{60};

    // Seconds until a login may be tried again; 0 when it may now.
    long wait_seconds(webui_clock::time_point now);
    void failed(webui_clock::time_point now);

private:
    std::mutex m_mutex;
    std::deque<webui_clock::time_point> m_failures;
};

// `bytes` random bytes as lower-case hexadecimal.
std::string random_token(std::size_t bytes);

// Constant-time comparison of two tokens.
bool tokens_equal(const std::string& a, const std::string& b);
