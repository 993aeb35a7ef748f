#include "test_signal.h"

#include <cmath>

namespace {

constexpr double kFullScale = 8388607.0;
constexpr double kTwoPi = 6.283185307179586;

}  // namespace

void TestSignal::set_tone(double hz, double dbfs)
{
    m_step = hz / kRate;
    m_amplitude = kFullScale * std::pow(10.0, dbfs / 20.0);
}

void TestSignal::set_silence()
{
    m_amplitude = 0.0;
}

void TestSignal::fill(std::uint8_t* block)
{
    std::uint8_t* out = block;
    for (int frame = 0; frame < kFramesPerBlock; ++frame) {
        const auto value =
            static_cast<std::int32_t>(std::lround(m_amplitude * std::sin(kTwoPi * m_phase)));
        const auto bits = static_cast<std::uint32_t>(value);
        for (int channel = 0; channel < kChannels; ++channel) {
            *out++ = static_cast<std::uint8_t>(bits & 0xFFU);
            *out++ = static_cast<std::uint8_t>((bits >> 8U) & 0xFFU);
            *out++ = static_cast<std::uint8_t>((bits >> 16U) & 0xFFU);
        }
        m_phase += m_step;
        m_phase -= std::floor(m_phase);
    }
}
