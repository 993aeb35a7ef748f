#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "HelperLib/HelperLib.h"
#include "camcontrol/Camcontrol.h"
#include "vantor/board_root.h"
#include "vantor/file_io.h"

// PTZ speed limits from the PTZ settings file, and the preset store/recall requests the web UI
// leaves in /tmp: one file per request, holding "Preset-1" ... "Preset-9".

namespace {

constexpr const char* kSavePresetPath = "/tmp/vantor-save-preset";
constexpr const char* kRecallPresetPath = "/tmp/vantor-reset-preset";
constexpr std::size_t kPresetLineMax = 49;

// A speed setting as a decimal number; a missing key (or text without digits) reads as 0, a
// number beyond the int range is held at its limit.
int read_speed(const std::string& file, const char* key)
{
    const std::string text = GetJsonString(file.c_str(), key);
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int>(value);
}

// Takes a preset request: the preset number 1-9, 0 when there is no request file or its first
// line is none of the nine texts. The file is deleted either way.
int take_preset_request(const char* path)
{
    const std::string full = vantor::board_path(path);
    std::string content;
    if (!vantor::read_file(full, content)) {
        return 0;
    }
    ::unlink(full.c_str());
    const std::size_t end = content.find('\n');
    std::string line = end == std::string::npos ? content : content.substr(0, end + 1);
    if (line.size() > kPresetLineMax) {
        line.resize(kPresetLineMax);
    }
    if (line.size() == 8 && line.compare(0, 7, "Preset-") == 0 && line[7] >= '1' &&
        line[7] <= '9') {
        return line[7] - '0';
    }
    std::printf("preset request %s: unexpected content, ignored\n", path);
    return 0;
}

}  // namespace

void Camcontrol::PTZGetWebUISpeeds()
{
    PTZ_PanSpeed = read_speed(PTZFileName, "PanSpeed");
    PTZ_TiltSpeed = read_speed(PTZFileName, "TiltSpeed");
    PTZ_ZoomSpeed = read_speed(PTZFileName, "ZoomSpeed");
}

bool Camcontrol::camera_line_open()
{
    const std::lock_guard<visca_line_mutex> lock(m_visca.visca_uart_mutex);
    return m_visca.cam_fd >= 0;
}

void Camcontrol::PTZGetWebUIValues()
{
    PTZGetWebUISpeeds();

    // A request is taken only while its command can go out; the line does not close meanwhile.
    const std::lock_guard<std::mutex> lock(preset_request_mutex);
    if (!camera_line_open()) {
        return;
    }
    const int store = take_preset_request(kSavePresetPath);
    if (store != 0) {
        PTZ_SetPreset.ui_val = 15U + static_cast<uint32_t>(store);
        visca_command_set_mcu(PTZ_SetPreset, 2, false);
    }
    const int recall = take_preset_request(kRecallPresetPath);
    if (recall != 0) {
        PTZ_RecallPreset.ui_val = 31U + static_cast<uint32_t>(recall);
        visca_command_set_mcu(PTZ_RecallPreset, 2, false);
    }
}
