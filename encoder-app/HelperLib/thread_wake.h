#pragma once

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

// Ends a blocking system call in another thread: the thread is sent SIGRTMIN, whose handler does
// nothing and is installed without SA_RESTART, so the interrupted call returns EINTR.

// Installs the wake-up handler. Called at start-up, before any other thread exists; refuses
// (false, nothing changed) when SIGRTMIN already has a handler or is ignored, since taking it over
// would break whoever installed it, and waking threads with it would run that handler.
bool install_wake_signal();

// Sends the wake-up signal once. Installs the handler first if start-up did not; does nothing
// (false) when the signal is taken by someone else.
bool wake_thread(pthread_t thread);

// Signals `thread` until `left()` holds or `limit` has passed, and reports whether it left. A
// signal that arrives just before the thread enters its call is lost, so it is sent again every
// `period`, waiting on `changed` (notified by the thread as it leaves) with `lock` held.
bool signal_until_left(pthread_t thread, std::unique_lock<std::mutex>& lock,
                       std::condition_variable& changed, const std::function<bool()>& left,
                       std::chrono::milliseconds period, std::chrono::milliseconds limit);
