#pragma once

// Per-second statistics of the video streams and the audio a monitor receives.

#include <cstdint>
#include <string>
#include <vector>

#include "Processing.NDI.Lib.h"
#include "audio_level.h"

namespace ndi_monitor {

// "SHQ2", "shq0", "UYVY": the four characters of a FourCC code.
std::string fourcc_text(std::uint32_t fourcc);

class StreamStats {
public:
    void add_video(const NDIlib_video_frame_v2_t& frame);
    void add_audio(const NDIlib_audio_frame_interleaved_32f_t& frame);

    // The report lines for the `seconds` since the previous report, given the receiver's counts of
    // lost frames so far; then starts a new interval.
    std::vector<std::string> report(double seconds, const NDIlib_recv_performance_t& dropped);

private:
    struct Video {
        bool seen = false;
        int xres = 0;
        int yres = 0;
        std::uint32_t fourcc = 0;
        std::int64_t frames = 0;
        std::int64_t bytes = 0;
    };
    Video m_program;
    Video m_preview;
    std::int64_t m_audio_blocks = 0;
    int m_sample_rate = 0;
    int m_channels = 0;
    AudioLevel m_level;
    NDIlib_recv_performance_t m_dropped_before;
};

}  // namespace ndi_monitor
