#include "HelperLib/thread_wake.h"

#include <csignal>

namespace {

void on_wake_signal(int /*signal*/) {}

bool is_ours(const struct sigaction& action)
{
    return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == on_wake_signal;
}

}  // namespace

bool install_wake_signal()
{
    static std::mutex installing;
    const std::lock_guard<std::mutex> lock(installing);
    struct sigaction current {};
    if (::sigaction(SIGRTMIN, nullptr, &current) != 0) {
        return false;
    }
    if (is_ours(current)) {
        return true;
    }
    if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) {
        return false;
    }
    struct sigaction action {};
    action.sa_handler = on_wake_signal;
    sigemptyset(&action.sa_mask);
    return ::sigaction(SIGRTMIN, &action, nullptr) == 0;
}

bool wake_thread(pthread_t thread)
{
    if (!install_wake_signal()) {
        return false;
    }
    return ::pthread_kill(thread, SIGRTMIN) == 0;
}

bool signal_until_left(pthread_t thread, std::unique_lock<std::mutex>& lock,
                       std::condition_variable& changed, const std::function<bool()>& left,
                       std::chrono::milliseconds period, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!left()) {
        if (std::chrono::steady_clock::now() >= deadline || !wake_thread(thread)) {
            return left();
        }
        changed.wait_for(lock, period, left);
    }
    return true;
}
