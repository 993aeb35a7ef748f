#pragma once

// Waits that return at once, on the calling thread only, while an InstantSleep lives. The VISCA
// reply collector polls the line once a millisecond while it waits for bytes; fed from a finished
// byte stream, each input would otherwise wait up to a few hundred real milliseconds. The
// collector's logic and its poll counts stay exactly as they are: only the time is taken out.
// (instant_sleep.cpp replaces the C library's nanosleep, which std::this_thread::sleep_for calls;
// other threads, such as libFuzzer's own, sleep for real.)

namespace vantor::fuzz {

extern thread_local bool g_sleep_is_instant;

class InstantSleep {
public:
    InstantSleep() { g_sleep_is_instant = true; }
    ~InstantSleep() { g_sleep_is_instant = false; }
    InstantSleep(const InstantSleep&) = delete;
    InstantSleep& operator=(const InstantSleep&) = delete;
};

}  // namespace vantor::fuzz
