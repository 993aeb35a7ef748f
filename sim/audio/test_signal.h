#pragma once

#include <cstddef>
#include <cstdint>

// The test signal of the simulated headset input: a sine of a given frequency and peak level on
// both channels, or silence, as 48 kHz stereo S24_3LE in blocks of 480 frames. The phase runs on
// across blocks and across a change of level.
class TestSignal {
public:
    static constexpr int kRate = 48000;
    static constexpr int kChannels = 2;
    static constexpr int kFramesPerBlock = 480;
    static constexpr std::size_t kBlockBytes = std::size_t{kFramesPerBlock} * kChannels * 3;

    // A sine whose peak is `dbfs` relative to full scale (0 dBFS: a peak of 8388607).
    void set_tone(double hz, double dbfs);
    void set_silence();
    // Writes the next block (kBlockBytes bytes).
    void fill(std::uint8_t* block);

private:
    double m_step = 0.0;       // phase step per frame, in cycles
    double m_phase = 0.0;      // in cycles, 0 <= phase < 1
    double m_amplitude = 0.0;  // peak in 24-bit units
};
