#include "log.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <climits>

namespace vantor::ndi {

namespace {

std::atomic<std::uint64_t> g_dropped{0};
std::mutex g_write_mutex;  // keeps lines of several threads whole

}  // namespace

void log_line(const std::string& text)
{
    std::string line = "ndi: " + text + "\n";
    const std::lock_guard<std::mutex> lock(g_write_mutex);
    // A pipe write of up to PIPE_BUF bytes is whole and does not wait when poll says writable.
    pollfd out{STDOUT_FILENO, POLLOUT, 0};
    if (::poll(&out, 1, 0) != 1 || (out.revents & POLLOUT) == 0) {
        g_dropped.fetch_add(1);
        return;
    }
    const std::uint64_t dropped = g_dropped.exchange(0);
    if (dropped > 0) {
        line = "ndi: (" + std::to_string(dropped) + " lines dropped: output full)\n" + line;
    }
    if (line.size() > PIPE_BUF) {
        line.resize(PIPE_BUF - 1);
        line.push_back('\n');
    }
    [[maybe_unused]] const ssize_t written = ::write(STDOUT_FILENO, line.data(), line.size());
}

void LineLimit::line(const std::string& text)
{
    std::uint64_t held_back = 0;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        const auto now = std::chrono::steady_clock::now();
        if (now - m_window_start >= m_period) {
            m_window_start = now;
            m_in_window = 0;
            held_back = m_held_back;
            m_held_back = 0;
        }
        if (m_in_window >= m_burst) {
            ++m_held_back;
            return;
        }
        ++m_in_window;
    }
    if (held_back > 0) {
        log_line("(" + std::to_string(held_back) + " similar lines held back)");
    }
    log_line(text);
}

}  // namespace vantor::ndi
