#pragma once

// The level of each audio channel over an interval: peak and RMS in dBFS, where 1.0 is full scale
// (a full-scale sine has a peak of 0 dBFS and an RMS of -3.0 dBFS).

#include <cstdint>
#include <string>
#include <vector>

#include "Processing.NDI.Lib.h"

namespace ndi_monitor {

class AudioLevel {
public:
    void add(const NDIlib_audio_frame_interleaved_32f_t& frame);
    // "audio level: ch1 peak -20.0 dBFS rms -23.0 dBFS, ch2 ..." for the samples since the
    // previous report ("-inf" for silence; NaN and infinite samples have no level and are counted
    // after the channel: "(3 samples not finite)"), or an empty text when none came; then starts
    // anew.
    std::string report();

private:
    struct Channel {
        double peak = 0.0;
        double sum_of_squares = 0.0;
        std::int64_t not_finite = 0;
    };
    std::vector<Channel> m_channels;
    std::int64_t m_samples = 0;  // per channel
};

}  // namespace ndi_monitor
