// ndi-monitor's level line: each channel's peak and RMS over the blocks since the last report.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "audio_level.h"

namespace {

// One block of 480 stereo frames: `left(i)` and `right(i)` give the samples of frame i.
template <typename Left, typename Right> std::vector<float> block(Left left, Right right)
{
    std::vector<float> samples;
    for (int i = 0; i < 480; ++i) {
        samples.push_back(left(i));
        samples.push_back(right(i));
    }
    return samples;
}

NDIlib_audio_frame_interleaved_32f_t frame_of(std::vector<float>& samples, int channels = 2)
{
    return {48000, channels, 480, 0, samples.data()};
}

TEST(AudioLevel, PeakAndRmsPerChannelOverTheInterval)
{
    ndi_monitor::AudioLevel level;
    EXPECT_EQ(level.report(), "");

    // A 1 kHz sine peaking at 0.1 (ten whole cycles a block) and silence.
    auto sine = block([](int i) { return static_cast<float>(0.1 * std::sin(i * M_PI / 24.0)); },
                      [](int) { return 0.0F; });
    level.add(frame_of(sine));
    level.add(frame_of(sine));
    EXPECT_EQ(level.report(),
              "audio level: ch1 peak -20.0 dBFS rms -23.0 dBFS, ch2 peak -inf dBFS rms -inf dBFS");
    EXPECT_EQ(level.report(), "");

    // Samples that are not finite have no level and are counted, not taken for silence; a
    // constant 0.5 has peak and RMS alike.
    auto odd = block(
        [](int i) {
            return i % 2 == 0 ? std::numeric_limits<float>::quiet_NaN()
                              : std::numeric_limits<float>::infinity();
        },
        [](int) { return -0.5F; });
    level.add(frame_of(odd));
    EXPECT_EQ(level.report(),
              "audio level: ch1 peak -inf dBFS rms -inf dBFS (480 samples not finite), ch2 peak "
              "-6.0 dBFS rms -6.0 dBFS");

    // Blocks that describe no usable samples are passed over.
    std::vector<float> samples(std::size_t{480} * 17, 0.25F);
    level.add(frame_of(samples, 0));
    level.add(frame_of(samples, 17));
    NDIlib_audio_frame_interleaved_32f_t empty(48000, 2, 480, 0, nullptr);
    level.add(empty);
    EXPECT_EQ(level.report(), "");
}

}  // namespace
