#include "audio_level.h"

#include <cmath>
#include <cstdio>

namespace ndi_monitor {

namespace {

// Channels a level line shows at most: a sender's count is not trusted to size anything.
constexpr int kMaxChannels = 16;

std::string dbfs_text(double value)
{
    if (!(value > 0.0)) {
        return "-inf";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", 20.0 * std::log10(value));
    return text;
}

}  // namespace

void AudioLevel::add(const NDIlib_audio_frame_interleaved_32f_t& frame)
{
    if (frame.p_data == nullptr || frame.no_channels <= 0 || frame.no_channels > kMaxChannels ||
        frame.no_samples <= 0) {
        return;
    }
    const auto channels = static_cast<std::size_t>(frame.no_channels);
    if (m_channels.size() != channels) {
        m_channels.assign(channels, Channel{});
        m_samples = 0;
    }
    const float* sample = frame.p_data;
    for (int i = 0; i < frame.no_samples; ++i) {
        for (Channel& channel : m_channels) {
            // NaN or infinity: no level, but counted and shown, never taken for silence.
            const bool finite = std::isfinite(*sample);
            channel.not_finite += finite ? 0 : 1;
            const double value = finite ? std::fabs(*sample) : 0.0;
            channel.peak = std::fmax(channel.peak, value);
            channel.sum_of_squares += value * value;
            ++sample;
        }
    }
    m_samples += frame.no_samples;
}

std::string AudioLevel::report()
{
    if (m_samples == 0) {
        return {};
    }
    std::string line = "audio level:";
    for (std::size_t c = 0; c < m_channels.size(); ++c) {
        Channel& channel = m_channels[c];
        const double rms = std::sqrt(channel.sum_of_squares / static_cast<double>(m_samples));
        line += (c == 0 ? " ch" : ", ch") + std::to_string(c + 1) + " peak " +
                dbfs_text(channel.peak) + " dBFS rms " + dbfs_text(rms) + " dBFS";
        if (channel.not_finite > 0) {
            line += " (" + std::to_string(channel.not_finite) + " samples not finite)";
        }
        channel = Channel{};
    }
    m_samples = 0;
    return line;
}

}  // namespace ndi_monitor
