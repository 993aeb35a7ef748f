#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

// The serial line's lock: a first-come, first-served (ticket) mutex. A transaction holds it for up
// to a few hundred milliseconds; with a plain mutex the thread that just unlocked it (the engine
// draining its table) usually takes it again at once, so a thread waiting for the line (VISCA over
// IP, the web-UI loop) could wait for a whole drain. Here every waiter gets the line in the order
// it asked, so it waits for at most the transactions that were queued before it.
// Meets the Lockable requirements (std::lock_guard, std::unique_lock).
class visca_line_mutex {
public:
    void lock()
    {
        std::unique_lock<std::mutex> guard(m_mutex);
        const uint64_t ticket = m_next_ticket++;
        m_turn.wait(guard, [&] { return m_now_serving == ticket; });
    }

    bool try_lock()
    {
        const std::lock_guard<std::mutex> guard(m_mutex);
        if (m_now_serving != m_next_ticket) {
            return false;
        }
        ++m_next_ticket;
        return true;
    }

    void unlock()
    {
        {
            const std::lock_guard<std::mutex> guard(m_mutex);
            ++m_now_serving;
        }
        m_turn.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_turn;
    uint64_t m_next_ticket = 0;  // guarded by m_mutex
    uint64_t m_now_serving = 0;  // guarded by m_mutex
};
