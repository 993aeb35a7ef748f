// The target's build of ndi-monitor: the camera's system has no libavcodec to decode with.
#include "snapshot.h"

namespace ndi_monitor {

bool write_snapshot(const NDIlib_video_frame_v2_t& /*frame*/, const std::string& /*path*/,
                    std::string& error)
{
    error = "this build cannot decode pictures (no libavcodec)";
    return false;
}

}  // namespace ndi_monitor
