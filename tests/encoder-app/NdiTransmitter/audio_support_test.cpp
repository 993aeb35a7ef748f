// The input gain rule and the 24-bit conversion of the headset blocks, and the reads that are not
// whole blocks.

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <vector>

#include "NdiTransmitter/AudioSupport.h"

namespace {

// One "AnalogAudioInGain" value applied to a block whose every sample holds `bytes`.
struct GainCase {
    const char* setting;
    float previous_gain;  // the gain before this value was read
    std::array<std::uint8_t, 3> bytes;
    float gain;    // expected
    float sample;  // expected float sample
};

// Expected gains are 10^(dB/20) worked out by hand; samples are the 24-bit value / 2^23 x gain.
const GainCase kGainCases[] = {
    {"50", 0.5F, {0xFF, 0xFF, 0x7F}, 1.0F, 0.99999988F},          // unity; top of the range
    {"50", 1.0F, {0x00, 0x00, 0x80}, 1.0F, -1.0F},                // bottom of the range
    {"51", 1.0F, {0x00, 0x00, 0x40}, 1.1220185F, 0.56100925F},    // one step up is +1 dB
    {"49", 1.0F, {0x00, 0x00, 0x40}, 0.8912509F, 0.44562545F},    // one step down is -1 dB
    {"70", 1.0F, {0xFF, 0xFF, 0xFF}, 10.0F, -1.1920929e-6F},      // +20 dB; -1
    {"30", 1.0F, {0x00, 0x00, 0xC0}, 0.1F, -0.05F},               // -20 dB; -2^22
    {"60", 1.0F, {0x01, 0x00, 0x00}, 3.1622777F, 3.7697288e-7F},  // +10 dB; +1
    {"NULL", 0.25F, {0x00, 0x00, 0x40}, 0.25F, 0.125F},           // missing key keeps the gain
    {"loud", 0.25F, {0x00, 0x00, 0x40}, 0.25F, 0.125F},           // not a number keeps it
    {"nan", 0.25F, {0x00, 0x00, 0x40}, 0.25F, 0.125F},
    {"inf", 0.25F, {0x00, 0x00, 0x40}, 0.25F, 0.125F},
    {"60dB", 0.25F, {0x00, 0x00, 0x40}, 0.25F, 0.125F},
    {"1e308", 1.0F, {0x00, 0x00, 0x40}, 316.22777F, 158.11388F},         // limited to 100: +50 dB
    {"-1e308", 1.0F, {0x00, 0x00, 0x40}, 0.0031622777F, 0.0015811388F},  // limited to 0: -50 dB
    {" 55.5 ", 1.0F, {0x00, 0x00, 0x40}, 1.8836491F, 0.94182455F},  // spaces around, a fraction
};

TEST(AudioSupport, GainSettingAndSampleConversionTable)
{
    AudioSupport audio;
    std::vector<float> samples(AudioSamplesPerBlock);
    audio.NDI_audio_frame.p_data = samples.data();
    std::vector<std::uint8_t> raw(AudioRawBlockBytes);
    for (const GainCase& c : kGainCases) {
        SCOPED_TRACE(c.setting);
        const float gain = audio.gain_for_setting(c.setting, c.previous_gain);
        EXPECT_NEAR(gain, c.gain, c.gain * 1e-6F);
        for (std::size_t i = 0; i < raw.size(); ++i) {
            raw[i] = c.bytes[i % 3];
        }
        samples.assign(samples.size(), 99.0F);
        ASSERT_TRUE(audio.convert_block(raw.data(), AudioFramesPerRead, gain));
        EXPECT_EQ(audio.NDI_audio_frame.no_samples, AudioFramesPerRead);
        const float tolerance = std::fabs(c.sample) * 1e-6F;
        EXPECT_NEAR(samples.front(), c.sample, tolerance);
        EXPECT_NEAR(samples.back(), c.sample, tolerance);
    }
    audio.NDI_audio_frame.p_data = nullptr;
}

TEST(AudioSupport, SamplesAreTakenFromTheirOwnOffsetInTheBlock)
{
    AudioSupport audio;
    std::vector<std::uint8_t> raw(AudioRawBlockBytes);
    // Sample i holds the value i - 480 (negative in the first half).
    for (int i = 0; i < AudioSamplesPerBlock; ++i) {
        const auto bits = static_cast<std::uint32_t>(i - 480);
        raw[static_cast<std::size_t>(i) * 3] = static_cast<std::uint8_t>(bits & 0xFFU);
        raw[static_cast<std::size_t>(i) * 3 + 1] = static_cast<std::uint8_t>((bits >> 8U) & 0xFFU);
        raw[static_cast<std::size_t>(i) * 3 + 2] = static_cast<std::uint8_t>((bits >> 16U) & 0xFFU);
    }
    for (int i = 0; i < AudioSamplesPerBlock; ++i) {
        ASSERT_EQ(audio.getLeS24(raw.data(), 0, i), i - 480) << "sample " << i;
    }
}

TEST(AudioSupport, ReadsThatAreNotAWholeBlockLeaveTheFloatBlockAsItWas)
{
    AudioSupport audio;
    std::vector<float> samples(AudioSamplesPerBlock, 7.0F);
    audio.NDI_audio_frame.p_data = samples.data();
    audio.NDI_audio_frame.no_samples = 0;
    const std::vector<std::uint8_t> raw(AudioRawBlockBytes, 0x11);
    for (const snd_pcm_sframes_t frames : {snd_pcm_sframes_t{0}, snd_pcm_sframes_t{1},
                                           snd_pcm_sframes_t{479}, snd_pcm_sframes_t{-EPIPE}}) {
        SCOPED_TRACE(frames);
        EXPECT_FALSE(audio.convert_block(raw.data(), frames, 1.0F));
        EXPECT_EQ(audio.NDI_audio_frame.no_samples, 0);
        EXPECT_EQ(samples.front(), 7.0F);
        EXPECT_EQ(samples.back(), 7.0F);
    }
    audio.NDI_audio_frame.p_data = nullptr;
}

}  // namespace
