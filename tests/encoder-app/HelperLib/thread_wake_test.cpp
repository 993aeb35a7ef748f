// Waking a thread out of a blocking call with SIGRTMIN, and refusing a signal that is taken.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

#include "HelperLib/thread_wake.h"
#include "vantor/unique_fd.h"

namespace {

using namespace std::chrono_literals;

void someone_elses_handler(int /*signal*/) {}

// Runs `check` in a child process (signal dispositions are the whole process's) and returns its
// exit status.
int in_child(bool (*check)())
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(check() ? 0 : 1);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(WakeSignal, IsRefusedWhenSomeoneElseHandlesOrIgnoresIt)
{
    const auto taken_by_a_handler = [] {
        struct sigaction other {};
        other.sa_handler = someone_elses_handler;
        ::sigaction(SIGRTMIN, &other, nullptr);
        struct sigaction after {};
        return !install_wake_signal() && !wake_thread(::pthread_self()) &&
               ::sigaction(SIGRTMIN, nullptr, &after) == 0 &&
               after.sa_handler == someone_elses_handler;
    };
    const auto ignored = [] {
        (void)std::signal(SIGRTMIN, SIG_IGN);
        return !install_wake_signal();
    };
    // Installed once on a free signal, a second call finds its own handler and accepts it.
    const auto free_then_ours = [] {
        const bool first = install_wake_signal();
        const bool again = install_wake_signal();
        return first && again;
    };
    EXPECT_EQ(in_child(taken_by_a_handler), 0);
    EXPECT_EQ(in_child(ignored), 0);
    EXPECT_EQ(in_child(free_then_ours), 0);
}

TEST(WakeSignal, SignalsUntilTheThreadLeavesOrTheLimitPasses)
{
    ASSERT_TRUE(install_wake_signal());
    int ends[2] = {-1, -1};
    ASSERT_EQ(::pipe(ends), 0);
    const vantor::UniqueFd reader(ends[0]);
    const vantor::UniqueFd writer(ends[1]);

    std::mutex mutex;
    std::condition_variable changed;
    bool left = false;
    std::atomic<bool> retry_interrupted{true};
    const auto blocked_reader = [&] {
        char byte = 0;
        while (::read(reader.get(), &byte, 1) < 0 && errno == EINTR && retry_interrupted) {
        }
        {
            const std::lock_guard<std::mutex> lock(mutex);
            left = true;
        }
        changed.notify_all();
    };

    // A thread that goes back into its read after every signal does not leave within the limit.
    std::thread stubborn(blocked_reader);
    {
        std::unique_lock<std::mutex> lock(mutex);
        EXPECT_FALSE(signal_until_left(
            stubborn.native_handle(), lock, changed, [&] { return left; }, 5ms, 100ms));
    }
    // One that gives up on an interrupted read leaves, however late the first signal lands.
    retry_interrupted = false;
    {
        std::unique_lock<std::mutex> lock(mutex);
        EXPECT_TRUE(signal_until_left(
            stubborn.native_handle(), lock, changed, [&] { return left; }, 5ms, 10000ms));
    }
    (void)::write(writer.get(), "x", 1);  // ends the read in any case, so the join never hangs
    stubborn.join();
}

}  // namespace
