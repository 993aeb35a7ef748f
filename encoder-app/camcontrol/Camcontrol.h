#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "camcontrol/camcontrol_ndi_handle.h"
#include "visca/visca.h"

// The camera model, read once from the hardware-version file at start.
enum camera_version : int32_t {
    PNone = -1,  // not recognised
    S700 = 0,    // HD model
    R8T = 1,     // 4K model
};

// The format code the camera module reports once it has switched to `video_format`: the camera
// produces 1080p24, 1080p50 or 1080p59.94 for the HD formats it scales from.
uint32_t camcontrol_expected_camera_format(uint32_t video_format);

// The camera-control object: owns the VISCA engine and the threads of the camera-control services.
// Lifecycle: construct -> cam_init_Camcontrol (line open, engine running, camera answered) ->
// init_Camcontrol (services started) -> set_vid_fmt_Camcontrol on every format change ->
// deinit_Camcontrol (every started thread joined). The destructor stops whatever still runs.
// The members of the individual services (PTZ metadata buffer, sockets and receive state, web-UI
// bindings, network identity) arrive with those services. Members are grouped by the service that
// uses them rather than packed by size: there is one object per program.
class Camcontrol {  // NOLINT(clang-analyzer-optin.performance.Padding)
public:
    Camcontrol();
    ~Camcontrol();
    Camcontrol(const Camcontrol&) = delete;
    Camcontrol& operator=(const Camcontrol&) = delete;

    // Brings the camera module up: opens the line, starts the engine thread and checks once per
    // camera_poll_period until the camera answers. Returns 1 then, 0 when camera control was
    // disabled (Camcontrol_en cleared) first. The argument is not used.
    int cam_init_Camcontrol(unsigned video_format);
    // Starts the camera-control services.
    void init_Camcontrol();
    // Switches the camera module to `video_format` and waits until it reports the expected format
    // (or camera control is disabled). Holds the other command sources back meanwhile.
    int set_vid_fmt_Camcontrol(uint32_t video_format);
    // Reads the camera model from "/etc/vantor-hardware-version" into enum_camera_version.
    int GetCamVersion();
    // Stops every started thread and closes the serial line.
    void deinit_Camcontrol();

    // Nested record of the VISCA-over-IP control reply.
    struct voip_control_command_str {
        uint8_t cmd[9] = {};
        uint8_t cmd_length = 0;
        bool new_cmd = false;
        sockaddr_in cliaddr = {};
        uint32_t sequence_number = 0;
    };

    bool ntsc_true = true;
    std::atomic<bool> Camcontrol_en{true};
    std::atomic<bool> bInitUI{true};
    camcontrol_ndi_send_instance_t ndi_tx_inst = nullptr;  // borrowed NDI sender handle
    visca m_visca;
    uint32_t video_format_unit = 0;

    std::thread camcontrol_ndi_thread;
    std::atomic<bool> camcontrol_ndi_Running{true};
    bool camcontrol_focus_auto = false;
    int camcontrol_man_focus_dist = 0;
    int distance_cal_last = 0;

    std::thread camcontrol_inq_misc_thread;
    std::atomic<bool> camcontrol_inq_misc_Running{true};

    std::mutex udp_send_mutex;
    voip_control_command_str voip_control_command;
    std::atomic<bool> camcontrol_voip_Running{false};
    std::atomic<bool> camcontrol_voip_det_cmd{false};
    std::thread camcontrol_voip_thread;
    std::thread camcontrol_voip_search_thread;
    socklen_t cliaddr_len = sizeof(sockaddr_in);

    std::atomic<bool> tally_en{false};

    std::atomic<bool> camcontrol_vtip_Running{false};
    std::atomic<bool> camcontrol_vtip_det_cmd{false};
    std::thread camcontrol_vtip_thread;
    socklen_t cliaddr_len_vtip = sizeof(sockaddr_in);

    socklen_t bcaddrlen = sizeof(sockaddr_in);
    socklen_t cliaddr_search_len = sizeof(sockaddr_in);

    std::thread camcontrol_webui_thread;
    std::atomic<bool> camcontrol_webui_Running{true};
    std::atomic<bool> camcontrol_webui_pause{true};

    std::string ExposureFileName = "/etc/vantor-exp-setup.json";
    std::string WhiteBalanceFileName = "/etc/vantor-wb-setup.json";
    std::string PictureFileName = "/etc/vantor-pic-setup.json";
    std::string DetailFileName = "/etc/vantor-det-setup.json";
    std::string GammaFileName = "/etc/vantor-gamma-setup.json";
    std::string PTZFileName = "/etc/vantor-ptz-settings.json";

    std::atomic<int> PTZ_PanSpeed{0};
    std::atomic<int> PTZ_TiltSpeed{0};
    std::atomic<int> PTZ_ZoomSpeed{0};

    std::atomic<uint16_t> m_nCam_Version{0};
    std::atomic<uint8_t> m_nFocusMode{0};
    std::atomic<uint8_t> m_nMute{0};
    std::atomic<uint8_t> m_nMenuDisplay{0};
    std::atomic<uint8_t> m_nBlackLight{0};
    std::atomic<uint8_t> m_nFreeze{0};
    std::atomic<uint8_t> m_nPowerStatus{0};

    std::thread ndi_tally_thread;
    std::atomic<bool> ndi_tally_Running{true};
    visca_command tally_mode;
    visca_command tally;

    bool debug_print = false;
    camera_version enum_camera_version = PNone;

    // Period of the bring-up retry and of the format-confirmation polls (one second on the
    // camera; tests shorten it).
    std::chrono::milliseconds camera_poll_period{1000};
};
