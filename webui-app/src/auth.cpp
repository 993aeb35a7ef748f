#include "auth.h"

#include <sodium.h>

#include <vector>

#include "vantor/board_root.h"
#include "vantor/file_io.h"

namespace {

// Argon2id cost: 3 passes over 8 MiB. libsodium's interactive limit (64 MiB) is more than the
// camera's web UI may take; 8 MiB keeps a login around a quarter of a second on the target.
constexpr unsigned long long kOpsLimit = 3;
constexpr std::size_t kMemLimit = std::size_t{8} * 1024 * 1024;

bool sodium_ready()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

std::string stored_hash()
{
    std::string text;
    if (!vantor::read_file(vantor::board_path(kPasswordFile), text)) {
        return {};
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

bool PasswordStore::is_set() const
{
    return !stored_hash().empty();
}

bool PasswordStore::set_first(const std::string& password)
{
    static std::mutex set_mutex;  // two first visits at once: only one sets the password
    const std::lock_guard<std::mutex> lock(set_mutex);
    if (is_set() || !password_refusal(password).empty() || !sodium_ready()) {
        return false;
    }
    std::vector<char> hash(crypto_pwhash_STRBYTES);
    if (crypto_pwhash_str(hash.data(), password.data(), password.size(), kOpsLimit, kMemLimit) !=
        0) {
        return false;
    }
    return vantor::replace_file_atomically(vantor::board_path(kPasswordFile),
                                           std::string(hash.data()) + "\n");
}

bool PasswordStore::verify(const std::string& password) const
{
    const std::string hash = stored_hash();
    if (hash.empty() || password.size() > kPasswordMax || !sodium_ready()) {
        return false;
    }
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

std::string password_refusal(const std::string& password)
{
    if (password.size() < kPasswordMin) {
        return "the password needs at least " + std::to_string(kPasswordMin) + " characters";
    }
    if (password.size() > kPasswordMax) {
        return "the password may have at most " + std::to_string(kPasswordMax) + " characters";
    }
    return {};
}

std::string Sessions::create(webui_clock::time_point now)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        it = now - it->second.last_used > kIdle ? m_sessions.erase(it) : std::next(it);
    }
    if (m_sessions.size() >= kMaxSessions) {  // the least recently used one makes room
        auto oldest = m_sessions.begin();
        for (auto it = m_sessions.begin(); it != m_sessions.end(); ++it) {
            if (it->second.last_used < oldest->second.last_used) {
                oldest = it;
            }
        }
        m_sessions.erase(oldest);
    }
    std::string id = random_token(32);
    m_sessions[id] = session_info{random_token(32), now};
    return id;
}

std::string Sessions::touch(const std::string& id, webui_clock::time_point now)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_sessions.find(id);
    if (found == m_sessions.end()) {
        return {};
    }
    if (now - found->second.last_used > kIdle) {
        m_sessions.erase(found);
        return {};
    }
    found->second.last_used = now;
    return found->second.csrf;
}

void Sessions::end(const std::string& id)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_sessions.erase(id);
}

long LoginLimiter::wait_seconds(webui_clock::time_point now)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    while (!m_failures.empty() && now - m_failures.front() >= kWindow) {
        m_failures.pop_front();
    }
    if (m_failures.size() < kAttempts) {
        return 0;
    }
    const auto left = kWindow - (now - m_failures.front());
    return std::chrono::ceil<std::chrono::seconds>(left).count();
}

void LoginLimiter::failed(webui_clock::time_point now)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_failures.push_back(now);
    while (m_failures.size() > kAttempts) {
        m_failures.pop_front();
    }
}

std::string random_token(std::size_t bytes)
{
    (void)sodium_ready();
    std::vector<unsigned char> raw(bytes);
    randombytes_buf(raw.data(), raw.size());
    std::vector<char> hex(bytes * 2 + 1);
    sodium_bin2hex(hex.data(), hex.size(), raw.data(), raw.size());
    return {hex.data()};
}

bool tokens_equal(const std::string& a, const std::string& b)
{
    return !a.empty() && a.size() == b.size() && sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}
