#pragma once

#include <chrono>
#include <mutex>

// A global budget of replies per second (fixed one-second windows). The replies of VISCA over IP's
// block inquiry (103 bytes for 14) and discovery's broadcasts are larger than what causes them and
// go wherever the (unchecked, spoofable) source address says: the budget bounds what the camera
// can be made to send, far above what any controller asks for.
class voip_rate_budget {
public:
    explicit voip_rate_budget(int per_second) : m_per_second(per_second) {}

    // True when one more reply fits this second's budget (and counts it).
    bool take()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        const auto now = std::chrono::steady_clock::now();
        if (now - m_window_start >= std::chrono::seconds(1)) {
            m_window_start = now;
            m_used = 0;
        }
        if (m_used >= m_per_second) {
            return false;
        }
        ++m_used;
        return true;
    }

private:
    const int m_per_second;
    std::mutex m_mutex;
    std::chrono::steady_clock::time_point m_window_start{};
    int m_used = 0;
};
