#include "HelperLib/thread_wake.h"

#include <csignal>
#include <mutex>

namespace {

void on_wake_signal(int /*signal*/) {}

int installed_wake_signal()
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action {};
        action.sa_handler = on_wake_signal;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGRTMIN, &action, nullptr);
    });
    return SIGRTMIN;
}

}  // namespace

void wake_thread(pthread_t thread)
{
    ::pthread_kill(thread, installed_wake_signal());
}
