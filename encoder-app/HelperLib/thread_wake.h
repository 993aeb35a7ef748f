#pragma once

#include <pthread.h>

// Ends a blocking system call in another thread: the thread is sent a signal whose handler does
// nothing and is installed without SA_RESTART, so the interrupted call returns EINTR. A signal that
// arrives just before the thread enters the call is lost, so callers send it again until the
// thread has reacted.
void wake_thread(pthread_t thread);
