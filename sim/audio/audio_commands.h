#pragma once

#include <cstdint>
#include <string>

#include "test_signal.h"

// What the simulated headset input delivers in each 10 ms slot, and the text commands that change
// it. One thread.
class AudioSource {
public:
    AudioSource() { m_signal.set_tone(kDefaultHz, kDefaultDbfs); }

    static constexpr double kDefaultHz = 1000.0;
    static constexpr double kDefaultDbfs = -20.0;

    // The block of the slot that has come, in `block` (TestSignal::kBlockBytes); false when the
    // slot delivers nothing (stopped, or skipped by "underrun").
    bool next_block(std::uint8_t* block);
    // Counts a delivered block that the FIFO's reader did not take (no reader, FIFO full).
    void count_dropped() { ++m_dropped; }
    // Carries out one command line; the reply line without its line end, "ok ..." or "error ...".
    std::string command(const std::string& line);
    // One line per command, for --help and "help".
    static const char* help();

private:
    TestSignal m_signal;
    bool m_stopped = false;
    std::int64_t m_skip = 0;  // slots still to skip
    std::int64_t m_written = 0;
    std::int64_t m_skipped = 0;
    std::int64_t m_dropped = 0;
    std::string m_signal_text = "tone 1000 Hz -20 dBFS";
};
