#include "snapshot.h"

#include <cstdint>
#include <vector>

#include "picture_png.h"
#include "speedhq_decode.h"

namespace ndi_monitor {

bool write_snapshot(const NDIlib_video_frame_v2_t& frame, const std::string& path,
                    std::string& error)
{
    const auto fourcc = static_cast<std::uint32_t>(frame.FourCC);
    const bool chroma420 = fourcc == NDIlib_FourCC_type_SHQ0_highest_bandwidth ||
                           fourcc == NDIlib_FourCC_type_SHQ0_lowest_bandwidth;
    const bool chroma422 = fourcc == NDIlib_FourCC_type_SHQ2_highest_bandwidth ||
                           fourcc == NDIlib_FourCC_type_SHQ2_lowest_bandwidth;
    if (!chroma420 && !chroma422) {
        error = "not a SpeedHQ 4:2:0 or 4:2:2 picture";
        return false;
    }
    if (frame.p_data == nullptr || frame.data_size_in_bytes <= 0) {
        error = "an empty picture";
        return false;
    }
    const std::vector<std::uint8_t> bytes(frame.p_data, frame.p_data + frame.data_size_in_bytes);
    DecodedPicture picture;
    if (!decode_speedhq(bytes, frame.xres, frame.yres, chroma420, picture, error)) {
        return false;
    }
    return write_picture_png(picture, path, error);
}

}  // namespace ndi_monitor
