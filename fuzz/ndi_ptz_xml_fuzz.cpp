// One NDI PTZ metadata frame through camcontrol_capture_ndi, as the metadata thread hands it
// over, followed by a look at the engine's capture buffer: every command left there must be one
// the camera module accepts (the camera simulator's own check), else the input aborts.
// The frame's text is the input; its length is given as the runtime does (the NUL counted).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "camcontrol/Camcontrol.h"
#include "camera_model.h"

namespace {

Camcontrol& control()
{
    static Camcontrol instance;
    static const bool once = [] {
        instance.m_visca.init_visca_command();
        // The PTZ settings file's limits as the tests set them.
        instance.PTZ_PanSpeed = 20;
        instance.PTZ_TiltSpeed = 16;
        instance.PTZ_ZoomSpeed = 7;
        return true;
    }();
    (void)once;
    return instance;
}

void check_and_take_pending(visca& engine)
{
    static camsim::CameraModel camera;
    const int index = engine.cap_cmd_index;
    for (const visca::command_slot slot : visca::sending_order()) {
        visca_command& command = (engine.*slot)[index];
        if (!command.cmd_fill) {
            continue;
        }
        command.cmd_fill = false;
        if (command.cmd_length < 0 || command.cmd_length > VISCA_PACKET_SIZE ||
            !camera.accepts_command(camsim::Bytes(command.cmd, command.cmd + command.cmd_length))) {
            std::fprintf(stderr, "the camera refuses the queued command:");
            for (int i = 0; i < command.cmd_length && i < VISCA_PACKET_SIZE; ++i) {
                std::fprintf(stderr, " %02X", command.cmd[i]);
            }
            std::fprintf(stderr, "\n");
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    Camcontrol& camcontrol = control();
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    NDIlib_metadata_frame_t frame(static_cast<int>(text.size()), NDIlib_send_timecode_synthesize,
                                  text.data());
    camcontrol.camcontrol_capture_ndi(&frame);
    check_and_take_pending(camcontrol.m_visca);
    return 0;
}
