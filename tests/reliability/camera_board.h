#pragma once

// The whole virtual camera (scripts/run: both programs, every simulator) in a camera network
// namespace, reached from the studio namespace the way a studio's equipment reaches a camera.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "board_script.h"
#include "support/temp_board_root.h"
#include "vantor/unique_fd.h"

namespace vantor::test {

inline constexpr uint16_t kViscaPort = 52381;
inline constexpr uint16_t kSearchPort = 52380;
inline constexpr uint16_t kControlChannelPort = 420;

// What /proc shows of one process.
struct ProcessSample {
    bool alive = false;
    int64_t rss_kib = 0;
    int threads = 0;
    int fds = 0;
    double cpu_seconds = 0.0;  // user + system time so far
};
ProcessSample sample_process(pid_t pid);

// The per-second program lines of ndi-monitor ("video program: 1280x720 SHQ2 59.94 fps, ...
// 0 lost").
struct ProgramSecond {
    std::string size;
    double fps = 0.0;
    int64_t lost = 0;
};
std::vector<ProgramSecond> program_seconds(const std::string& monitor_output);

// How many of ndi-monitor's per-second lines report audio blocks.
size_t audio_seconds(const std::string& monitor_output);

// A well-behaved receiver that ran for `seconds` lost no picture (but for the odd one a busy
// machine costs: at most one in a thousand, two in one second), and
// every second but the first and last (and `gap_seconds` more, for format changes, where the
// encoder stops and starts again) brought pictures at no less than `min_fps`.
void expect_pictures_kept(const std::string& monitor_output, int seconds, double min_fps,
                          int gap_seconds = 0);

// A child process whose output goes to a file; killed (SIGKILL) and reaped when it still runs at
// destruction.
class BackgroundCommand {
public:
    BackgroundCommand(const std::vector<std::string>& argv, const std::string& log_path);
    ~BackgroundCommand();
    BackgroundCommand(const BackgroundCommand&) = delete;
    BackgroundCommand& operator=(const BackgroundCommand&) = delete;

    // Waits until it has ended; its exit status, or -1 when it is still running at the deadline
    // (then it is killed) or ended by a signal.
    int wait(std::chrono::seconds deadline);
    std::string output() const;

private:
    pid_t m_pid = -1;
    std::string m_log_path;
};

class CameraBoardTest : public ::testing::Test {
protected:
    // Starts the board; skips the test where namespaces are refused.
    void SetUp() override;
    void TearDown() override;

    // argv run in the studio namespace (`ip netns exec`).
    std::vector<std::string> in_studio(std::vector<std::string> argv) const;
    CommandResult studio_command(const std::vector<std::string>& argv,
                                 std::chrono::seconds deadline) const;
    // ndi-monitor in the studio namespace, receiving the program stream of the camera's source
    // for `seconds` (started in the background).
    std::unique_ptr<BackgroundCommand> start_program_receiver(int seconds) const;
    // Waits until the receiver's output shows it receiving pictures.
    bool wait_receiver_connected(const BackgroundCommand& receiver) const
    {
        return wait_more_program_seconds(receiver, 1);
    }
    // Waits until the receiver has reported `more` seconds of program pictures beyond those it
    // has reported so far.
    bool wait_more_program_seconds(const BackgroundCommand& receiver, size_t more) const;
    // Waits for the receiver to end and expects it lost no picture (expect_pictures_kept).
    void expect_receiver_lost_nothing(BackgroundCommand& receiver, int seconds, double min_fps,
                                      int gap_seconds = 0) const;
    // `count` VISCA-over-IP requests sent by visca-ip from the studio; true when every one got
    // its last reply (no loss, no error). `request` is a visca-ip request name or hex words.
    bool visca_all_answered(const std::vector<std::string>& request, int count,
                            std::string* output = nullptr) const;
    // Repeats one inquiry until it is answered; false when none was by the deadline.
    bool wait_visca_answered(std::chrono::seconds deadline) const;
    // A socket of `type` (SOCK_DGRAM, SOCK_STREAM) created in the studio namespace.
    vantor::UniqueFd studio_socket(int type) const;
    // The camera's address and the port of its main NDI sender.
    std::string camera_address() const { return m_facts.at("BOARD_CAMERA_ADDRESS"); }
    uint16_t ndi_port() const;
    pid_t encoder_pid() const;
    pid_t platform_pid() const;
    bool board_running() { return m_script && m_script->running(); }
    std::string etc(const std::string& name) const { return m_root + "/etc/" + name; }
    // What encoder-app printed (the board writes its output to this file).
    std::string encoder_log() const;
    std::string log(const std::string& name) const { return m_dir / name; }
    // One command to a simulator's control socket (the board fact naming it, such as
    // "BOARD_CAMERA_SIM_CONTROL"); its reply up to and with the line starting "ok" or "err".
    std::string sim_command(const std::string& control_fact, const std::string& command) const;
    // SIGINT to the board, which must end with status 0 (every program ended cleanly).
    void expect_clean_stop();

    // The video format the board starts with.
    std::string m_format = "720p59.94";
    TempDir m_dir;
    std::string m_root = m_dir / "board";
    std::unique_ptr<BoardScript> m_script;
    std::map<std::string, std::string> m_facts;
};

// Sets `key` of a flat settings file to `value` the way the web UI does (whole file replaced).
bool set_setting(const std::string& path, const std::string& key, const std::string& value);

}  // namespace vantor::test
