#pragma once

#include <netinet/in.h>
#include <sys/time.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "vantor/unique_fd.h"

#include "camcontrol/camcontrol_ndi_handle.h"
#include "camcontrol/voip_framing.h"
#include "camcontrol/voip_rate_budget.h"
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
    // disabled (Camcontrol_en cleared) or interrupted (camcontrol_interrupted) first. The argument
    // is not used.
    int cam_init_Camcontrol(unsigned video_format);
    // Starts the camera-control services.
    void init_Camcontrol();
    // Switches the camera module to `video_format` and waits until it reports the expected format
    // (or camera control is disabled). Holds the other command sources back meanwhile. Once
    // camcontrol_interrupted is set it stops waiting and, when that happened before the change was
    // sent, sends nothing.
    int set_vid_fmt_Camcontrol(uint32_t video_format);
    // Reads the camera model from "/etc/vantor-hardware-version" into enum_camera_version.
    int GetCamVersion();
    // Stops every started thread and closes the serial line.
    void deinit_Camcontrol();

    // One web-UI setting binding: a JSON key of a settings file tied to the VISCA command that
    // sets the value in the camera, with the values of both sides and of their last agreement.
    struct webui_cmd_str {
        visca_command set_cmd;      // trailing parameter bytes take the value before sending
        visca_inq_command get_cmd;  // single-value inquiry (unused: every binding block-reads)
        // Last value known in both camera and file; the block inquiry of VISCA over IP reads it
        // from its own thread.
        std::atomic<uint32_t> sys_val{kWebUINeverSynced};
        uint32_t ui_val = 0;           // file value, or the camera's after it won
        uint32_t mcu_val = 0;          // camera value as last read
        bool mcu_blk_read = true;      // camera value comes from block inquiries
        bool mcu_val_read = false;     // a fresh camera value waits in mcu_val
        bool ui_update = false;        // the file must be rewritten with ui_val
        bool fst_update_done = false;  // the camera's value reached the file once
        std::string Key;
        // The file's value, kept when the camera took a value the file has no text for (the file
        // still shows the earlier one): while the file reads as this, it has not changed.
        std::optional<uint32_t> stale_ui_val;
    };
    static constexpr uint32_t kWebUINeverSynced = 13579;

    // --- web-UI bindings (webui_bindings.cpp) ---
    static void setup_webui_cmd(webui_cmd_str& cmd, int cmd_bytes, int inq_cmd_bytes, int cmd_type,
                                int cmd_id, uint64_t prefilcmd, uint64_t prefilinqcmd,
                                const char* Key);
    void ExposureSetupCommands();
    void WhiteBalanceSetupCommands();
    void PictureSetupCommands();
    void DetailSetupCommands();
    void GammaSetupCommands();
    void PTZSetupCommands();
    void setup_webui_cmd_list();
    // Puts ui_val into the last cmd_bytes parameter bytes of set_cmd (one nibble per byte, or one
    // byte per byte with b_n) and sends it. A value that does not fit those nibbles/bytes is
    // refused: nothing is sent and false is returned.
    bool visca_command_set_mcu(webui_cmd_str& cmd, int cmd_bytes, bool b_n);

    // --- block inquiries (webui_block_inquiry.cpp) ---
    // Block inquiry 81 09 7E 7E bb FF; an accepted reply fills the bindings of its block.
    // Return true when a reply was accepted.
    bool BlockINQ10();
    bool BlockINQ11();
    bool BlockINQ12();
    bool BlockINQ13();
    bool BlockINQ14();
    bool BlockINQ15();
    bool BlockINQ16();
    bool BlockINQ(uint8_t block);
    // Fills the bindings from an accepted 16-byte reply to block inquiry `block`.
    void apply_block_reply(uint8_t block, const uint8_t* reply);

    // --- reconciliation (webui_reconcile.cpp) ---
    using webui_read_codec = uint32_t (*)(const char*, uint32_t);
    using webui_write_codec = std::string (*)(uint64_t);
    static void ReadWEbUIFiletoInt(webui_cmd_str& cmd, const char* Filename, webui_read_codec func);
    static void WriteWEbUIFiletoInt(webui_cmd_str& cmd, const char* Filename,
                                    webui_write_codec func);
    void ExposureGetWebUIValues();
    void WhiteBalanceGetWebUIValues();
    void PictureGetWebUIValues();
    void DetailGetWebUIValues();
    void GammaGetWebUIValues();
    void ExposureSetWebUIValues();
    void WhiteBalanceSetWebUIValues();
    void PictureSetWebUIValues();
    void DetailSetWebUIValues();
    void GammaSetWebUIValues();
    void ExposureUpdateWebUIMCU(bool check_inq);
    void WhiteBalanceUpdateWebUIMCU(bool check_inq);
    void PictureUpdateWebUIMCU(bool check_inq);
    void DetailUpdateWebUIMCU(bool check_inq);
    void GammaUpdateWebUIMCU(bool check_inq);
    // 0 file overwritten from the camera, 1 camera overwritten from the file, 2 nothing to do,
    // 3 no fresh camera value.
    int cmp_webui_uimcu(webui_cmd_str& cmd, int cmd_bytes, int inq_bytes, bool check_inq,
                        bool no_cmd_res_chk, bool cmd_b_n, bool inq_b_n);
    // Obtains the camera value into mcu_val; false when there is none.
    bool visca_inq_command_get_mcu(webui_cmd_str& cmd, int inq_bytes, bool b_n);

    // --- PTZ settings and preset requests (webui_presets.cpp) ---
    // The PTZ speeds, then the preset requests; a request file is left alone while the line is
    // not open (before bring-up, after shutdown closed it), so its command is not lost.
    void PTZGetWebUIValues();
    // The PTZ speeds only.
    void PTZGetWebUISpeeds();
    // True while the engine's serial line is open.
    bool camera_line_open();

    // --- the synchronisation thread (webui_thread.cpp) ---
    void camcontrol_webui();
    // Performs step `step` of the 14-step cycle (block inquiry, then reconciliation).
    void webui_cycle_step(int step);
    // True while another command source (NDI PTZ, VISCA over IP, a format change) is busy.
    bool webui_other_source_busy() const;
    // True when the thread may perform its next step: no other source busy, and
    // camcontrol_webui_pause already published false when that was last checked.
    bool webui_may_step();

    // --- NDI PTZ metadata, tally and status (ndi_ptz_*.cpp, ndi_tally.cpp, ndi_status.cpp) ---
    // The NDI metadata thread: takes PTZ metadata frames from the sender, holds them back while
    // another command source or a format change is busy, and wakes the engine after each.
    void camcontrol_ndi();
    // True while VISCA over IP, the proprietary channel or a format change is busy: metadata
    // waits meanwhile.
    bool ndi_other_source_busy() const;
    // Turns one metadata frame into commands in the engine's capture buffer (under its lock).
    // A frame without text, with text not ended within its length, too long, too deeply nested
    // or not well-formed is dropped with one line.
    void camcontrol_capture_ndi(NDIlib_metadata_frame_t* frame);
    // The tally thread: the lamp follows the sender's program/preview tally while tally_en.
    void ndi_tally();
    // The status thread: mute, back light, power and camera version, one pair every 2 s.
    void camcontrol_inq_misc();
    // The status reply's text with sequence number `sequence_number` (at most 270 characters).
    std::string status_reply_text(uint16_t sequence_number) const;
    // Sends the status reply to every receiver of the sender and counts its sequence number.
    void res_ndi_inq_blk();

    NDIlib_metadata_frame_t ptz_cmd;  // receive buffer of the metadata thread
    // Sequence number of the next status reply (wraps at 65536).
    std::atomic<uint16_t> Sequence_number{0};
    // Waits of the status thread (tests shorten them).
    std::chrono::milliseconds inq_misc_start_delay{3000};
    std::chrono::milliseconds inq_misc_period{2000};

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
    // Set once, from the program's SIGINT handler too, when the program is to end: the bring-up
    // retry and the format-change waits end at their next check. Never cleared (init_Camcontrol
    // sets Camcontrol_en again, so that flag cannot carry the request). Lock-free, so a signal
    // handler may store into it.
    std::atomic<bool> camcontrol_interrupted{false};
    std::atomic<bool> bInitUI{true};
    camcontrol_ndi_send_instance_t ndi_tx_inst = nullptr;  // borrowed NDI sender handle
    visca m_visca;
    std::atomic<uint32_t> video_format_unit{0};

    std::thread camcontrol_ndi_thread;
    std::atomic<bool> camcontrol_ndi_Running{true};
    bool camcontrol_focus_auto = false;
    int camcontrol_man_focus_dist = 0;
    int distance_cal_last = 0;

    std::thread camcontrol_inq_misc_thread;
    std::atomic<bool> camcontrol_inq_misc_Running{true};

    // --- VISCA over IP (voip_server.cpp, voip_block_inquiry.cpp) ---
    // Opens the socket on PORT and starts the server and discovery threads.
    void camcontrol_init_voip();
    void camcontrol_deinit_voip();
    void camcontrol_voip();
    // Acts on one datagram of `length` bytes that `client` sent to the socket `sockfd`; true when
    // it was acted on (a command executed, an inquiry answered).
    bool voip_handle_datagram(const uint8_t* datagram, int length, const sockaddr_in& client,
                              int sockfd);
    // Sends the inquiry (or IF_Clear) `message` to the camera and its reply or error to `client`;
    // true when the camera replied.
    bool voip_run_inquiry(const uint8_t* message, int message_length, const sockaddr_in& client,
                          int sockfd);
    // Acknowledges the VISCA command `message` to `client` at once and executes it; the
    // completion or error follows whenever the camera sends it. During a format change it is not
    // executed and the acknowledgement is followed by 90 61 41 FF (not executable). True when
    // the camera acknowledged it.
    bool write_voip_command(const uint8_t* message, int message_length, const sockaddr_in& client,
                            uint32_t sequence_number, int sockfd);
    // Makes the engine relay late completions and errors as VISCA replies to their requesters.
    void voip_install_reply_relay();
    // Sends one VISCA reply datagram (the header with `sequence_number`, then `payload`).
    void voip_send_reply(int sockfd, const sockaddr_in& client, uint32_t sequence_number,
                         const uint8_t* payload, int payload_length);
    // Sends the 103-byte block-inquiry reply built from the current values.
    void res_voip_inq_blk(const sockaddr_in& client, uint32_t sequence_number, int sockfd);
    // Builds the 103-byte block-inquiry reply into `reply`.
    void build_voip_inq_blk(uint32_t sequence_number, uint8_t (&reply)[103]) const;
    // Sends the camera's reply held by `inq` to its client and clears inq_fill.
    void sendto_res_voip_tx(visca_inq_command& inq);
    // Sends one datagram under udp_send_mutex, with MSG_CONFIRM.
    void voip_send(int sockfd, const sockaddr_in& client, const uint8_t* bytes, int length);

    // --- discovery (voip_search.cpp) ---
    void camcontrol_voip_search();
    // 0 sent, 1 no socket, 2 bind failed, 3 broadcast refused, 4 no host name (not sent), 5 the
    // broadcast budget of this second is spent (not sent).
    int camcontrol_voip_search_sendto(uint16_t srcPort);
    // Reads the identity of the reply (host name, address, MAC, mask, gateway, version) when it
    // was last read a second or more ago; false while the host name cannot be read.
    bool voip_search_identity();
    int LocalIP_InfoGet();
    static int GetFWVersion(std::string& target);
    static int GetCmd(const char* cmd, std::string& target);

    // --- proprietary channel (vtip.cpp) ---
    void camcontrol_init_vtip();
    void camcontrol_deinit_vtip();
    void camcontrol_vtip();
    // Acts on one datagram of the proprietary channel, as voip_handle_datagram does.
    bool vtip_handle_datagram(const uint8_t* datagram, int length, const sockaddr_in& client,
                              int sockfd);

    static constexpr uint16_t PORT = 52381;
    static constexpr uint16_t PORT_search = 52380;
    static constexpr uint16_t VTIP_PORT = 420;
    static constexpr int MAXLINE = VOIP_DATAGRAM_MAX;

    std::mutex udp_send_mutex;
    // Block-inquiry replies (both ports together) and discovery broadcasts per second.
    static constexpr int kBlockRepliesPerSecond = 100;
    static constexpr int kSearchRepliesPerSecond = 30;
    voip_rate_budget voip_block_budget{kBlockRepliesPerSecond};
    voip_rate_budget voip_search_budget{kSearchRepliesPerSecond};
    // The identity of the discovery reply, as last read (discovery thread only).
    std::string m_search_name;
    std::string m_search_version;
    bool m_search_identity_read = false;
    bool m_search_identity_known = false;
    std::chrono::steady_clock::time_point m_search_identity_time{};
    voip_control_command_str voip_control_command;
    std::atomic<bool> camcontrol_voip_Running{false};
    std::atomic<bool> camcontrol_voip_det_cmd{false};
    vantor::UniqueFd sockfd_voip;
    std::thread camcontrol_voip_thread;
    std::thread camcontrol_voip_search_thread;
    sockaddr_in servaddr = {};
    sockaddr_in cliaddr = {};
    socklen_t cliaddr_len = sizeof(sockaddr_in);
    timeval read_timeout = {};
    uint8_t recv_buffer[MAXLINE] = {};
    uint16_t recv_payload_type = 0;
    uint16_t recv_payload_length = 0;
    uint32_t recv_sequence_number = 0;
    int recv_length = 0;
    // The address the network services bind (the any-address on the camera); discovery is off
    // when it is a loopback address.
    in_addr voip_bind_address = {};

    std::atomic<bool> tally_en{false};

    std::atomic<bool> camcontrol_vtip_Running{false};
    std::atomic<bool> camcontrol_vtip_det_cmd{false};
    vantor::UniqueFd sockfd_vtip;
    std::thread camcontrol_vtip_thread;
    sockaddr_in servaddr_vtip = {};
    sockaddr_in cliaddr_vtip = {};
    socklen_t cliaddr_len_vtip = sizeof(sockaddr_in);
    timeval read_timeout_vtip = {};
    uint8_t recv_buffer_vtip[MAXLINE] = {};
    uint16_t recv_payload_type_vtip = 0;
    uint16_t recv_payload_length_vtip = 0;
    uint32_t recv_sequence_number_vtip = 0;
    int recv_length_vtip = 0;

    vantor::UniqueFd sockfd_search;
    sockaddr_in servaddr_search = {};
    sockaddr_in cliaddr_search = {};
    socklen_t bcaddrlen = sizeof(sockaddr_in);
    socklen_t cliaddr_search_len = sizeof(sockaddr_in);
    timeval read_timeout_search = {};
    int recv_length_search = 0;
    // Network identity of the discovery reply; only the discovery thread touches them.
    std::string m_sLocalIP, m_sMacAddr, m_sNetMask, m_sGateway;

    std::thread camcontrol_webui_thread;
    std::atomic<bool> camcontrol_webui_Running{true};
    std::atomic<bool> camcontrol_webui_pause{true};

    // Step of the 14-step cycle the web-UI thread performs next.
    std::atomic<int> webui_step{0};
    // Pause between steps and between checks while standing aside (tests shorten them).
    std::chrono::milliseconds webui_step_period{500};
    std::chrono::milliseconds webui_pause_period{100};
    // Test seam: when set (before init_Camcontrol), the web-UI thread calls it on every pass that
    // performs a step, after it found no other command source busy and before the step.
    std::function<void()> webui_before_step;

    std::string ExposureFileName = "/etc/vantor-exp-setup.json";
    std::string WhiteBalanceFileName = "/etc/vantor-wb-setup.json";
    std::string PictureFileName = "/etc/vantor-pic-setup.json";
    std::string DetailFileName = "/etc/vantor-det-setup.json";
    std::string GammaFileName = "/etc/vantor-gamma-setup.json";
    std::string PTZFileName = "/etc/vantor-ptz-settings.json";

    webui_cmd_str Exposure_ExpMode, Exposure_ExpCompEn, Exposure_ExpCompLvl, Exposure_AeResponse,
        Exposure_SlowShutterEn, Exposure_SlowShutterLimit, Exposure_ShutterSpeed,
        Exposure_ShutterMaxSpeed, Exposure_ShutterMinSpeed, Exposure_GainLevel, Exposure_GainLimit,
        Exposure_GainPoint, Exposure_GainPointPosition, Exposure_IrisLevel, Exposure_BrightLevel,
        Exposure_HighSensitivity, Exposure_Spotlight, Exposure_BackLight;
    webui_cmd_str WhiteBalance_WbMode, WhiteBalance_RedGain, WhiteBalance_BlueGain, WhiteBalance_BG,
        WhiteBalance_BR, WhiteBalance_GB, WhiteBalance_GR, WhiteBalance_RB, WhiteBalance_RG,
        WhiteBalance_Level, WhiteBalance_Matrix, WhiteBalance_Offset, WhiteBalance_Phase,
        WhiteBalance_Select, WhiteBalance_Speed;
    webui_cmd_str Picture_ChromeSuppress, Picture_Flip, Picture_HighlightComp, Picture_NDFilter,
        Picture_IRCutFilter, Picture_Mirror, Picture_Stabilizer, Picture_ThreeDNR, Picture_TWODNR,
        Picture_TWOTHREEDNR;
    webui_cmd_str Detail_Bandwidth, Detail_BwBalance, Detail_Crispening, Detail_Detail,
        Detail_Level, Detail_HighLightDetail, Detail_HvBalance, Detail_Limit, Detail_SuperLow;
    webui_cmd_str Gamma_BlackGammaLevel, Gamma_BlackLevel, Gamma_BlackLevelRange, Gamma_Effect,
        Gamma_Level, Gamma_Offset, Gamma_Settings, Gamma_Pattern, Gamma_PatternFine,
        Gamma_PatternREG, Gamma_VisibilityEnhancer;
    webui_cmd_str PTZ_SetPreset, PTZ_RecallPreset;

    // Held by the web-UI thread while it sets up or changes the bindings' values (a step). The
    // status reply reads the values (atomics) without it, so PTZ never waits for a step.
    std::mutex webui_values_mutex;

    // Held while a preset request is taken and sent, and while the line closes at shutdown.
    std::mutex preset_request_mutex;

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

    NDIlib_tally_t p_tally;  // last tally read; the tally thread's own
    std::thread ndi_tally_thread;
    std::atomic<bool> ndi_tally_Running{true};
    visca_command tally_mode;
    visca_command tally;

    bool debug_print = false;
    camera_version enum_camera_version = PNone;

    // Period of the bring-up retry and of the format-confirmation polls (one second on the
    // camera; tests shorten it).
    std::chrono::milliseconds camera_poll_period{1000};

private:
    // Sleeps for `period`, or less when camcontrol_interrupted is set meanwhile.
    void pause_unless_interrupted(std::chrono::milliseconds period) const;
};

static_assert(std::atomic<bool>::is_always_lock_free,
              "camcontrol_interrupted is set from a signal handler");
