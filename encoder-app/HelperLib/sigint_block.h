#pragma once

#include <csignal>

// Blocks SIGINT in the calling thread for the guard's lifetime, then restores the thread's previous
// signal mask. A thread started meanwhile inherits the blocked mask, so SIGINT reaches only the
// threads that never block it (the program's main thread), and the system calls of every other
// thread are never interrupted by it. A SIGINT that arrives meanwhile stays pending and is handled
// when the mask is restored.
class SigintBlock {
public:
    SigintBlock();
    ~SigintBlock();
    SigintBlock(const SigintBlock&) = delete;
    SigintBlock& operator=(const SigintBlock&) = delete;

private:
    sigset_t m_previous{};
};
