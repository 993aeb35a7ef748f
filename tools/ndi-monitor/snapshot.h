#pragma once

// --snapshot: one received SpeedHQ picture decoded and written as a PNG file people can look at.

#include <cstdint>
#include <string>

#include "Processing.NDI.Lib.h"

namespace ndi_monitor {

// True for a picture of the program (highest-bandwidth) stream: upper-case SpeedHQ codes.
inline bool is_program_picture(const NDIlib_video_frame_v2_t& frame)
{
    const auto fourcc = static_cast<std::uint32_t>(frame.FourCC);
    return fourcc == NDIlib_FourCC_type_SHQ0_highest_bandwidth ||
           fourcc == NDIlib_FourCC_type_SHQ2_highest_bandwidth ||
           fourcc == NDIlib_FourCC_type_SHQ7_highest_bandwidth;
}

// Decodes `frame` (SHQ0/SHQ2, either stream) and writes it to `path` as an RGB PNG; false with
// `error` set when the picture cannot be decoded or the file cannot be written.
bool write_snapshot(const NDIlib_video_frame_v2_t& frame, const std::string& path,
                    std::string& error);

}  // namespace ndi_monitor
