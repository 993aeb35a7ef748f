// The virtual camera as a user starts it: scripts/run on a board root of the test's own, an NDI
// receiver (ndi-monitor) on the camera's source, and a stop that leaves nothing behind.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "board_script.h"
#include "support/temp_board_root.h"
#include "support/wait_until.h"

namespace {

using namespace std::chrono_literals;
using vantor::test::BoardScript;
using vantor::test::netns_present;
using vantor::test::processes_mentioning;
using vantor::test::read_text;
using vantor::test::run_command;
using vantor::test::wait_board_env;

const std::string kBin = VANTOR_BIN_DIR;
const std::string kSource = VANTOR_SOURCE_DIR;

// Generous: under the sanitizers on a shared two-core machine the camera takes a while to come up.
constexpr auto kUpDeadline = 120s;
constexpr auto kStopDeadline = 150s;
constexpr auto kMonitorDeadline = 90s;
const std::string kMonitorSeconds = "10";

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// The highest program frame rate among ndi-monitor's once-a-second lines for `size` ("1280x720").
double best_program_rate(const std::string& output, const std::string& size)
{
    const std::regex line("video program: " + size + " SHQ2 ([0-9.]+) fps");
    double best = 0.0;
    for (auto it = std::sregex_iterator(output.begin(), output.end(), line);
         it != std::sregex_iterator(); ++it) {
        best = std::max(best, std::stod((*it)[1].str()));
    }
    return best;
}

class BoardRunTest : public ::testing::Test {
protected:
    // Nothing of the board may survive its script: no process that names the board root on its
    // command line or in its environment, no namespace, no namespace mount.
    void expect_nothing_left(const std::vector<std::string>& namespaces) const
    {
        for (const std::string& left : processes_mentioning(m_root)) {
            ADD_FAILURE() << "process left behind: " << left;
        }
        for (const std::string& name : namespaces) {
            EXPECT_FALSE(netns_present(name)) << "network namespace left behind: " << name;
        }
    }

    std::string app_log() const { return read_text(m_root + "/var/log/encoder-app.log"); }

    vantor::test::TempDir m_dir;
    std::string m_root = m_dir / "board";
    std::string m_log = m_dir / "run.log";
};

TEST_F(BoardRunTest, CommandLineMistakesAreRefusedBeforeAnythingStarts)
{
    const std::string script = kSource + "/scripts/run";
    const auto help = run_command({"bash", script, "--help"}, 30s);
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(contains(help.output, "Usage: scripts/run")) << help.output;

    const std::vector<std::vector<std::string>> wrong = {
        {"--duration", "0"},
        {"--duration", "soon"},
        {"--format", "1080p\"50"},
        {"--root"},
        {"--bogus"},
        {"--demo", "--board-only"},
        {"--demo-dir"},
    };
    for (const auto& args : wrong) {
        std::vector<std::string> argv = {"bash", script, "--root", m_root};
        argv.insert(argv.end(), args.begin(), args.end());
        const auto result = run_command(argv, 30s);
        EXPECT_EQ(result.status, 2) << args[0] << ": " << result.output;
        EXPECT_TRUE(contains(result.output, "see --help")) << result.output;
    }
    // Refused before the board root was even made.
    EXPECT_NE(::access(m_root.c_str(), F_OK), 0);
}

// As root the camera runs in a namespace of its own, and NDI crosses the veth link to the studio
// namespace, the only way in.
TEST_F(BoardRunTest, CameraStreamsAcrossTheStudioLinkAndCtrlCStopsEverything)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "network namespaces need root; the loopback test covers the rest";
    }
    BoardScript script(
        kSource, {"--bin", kBin, "--root", m_root, "--format", "720p59.94", "--duration", "600"},
        m_log);
    ASSERT_TRUE(script.started());
    auto facts = wait_board_env(script, m_root, "BOARD_NDI_ADDRESS", kUpDeadline);
    ASSERT_FALSE(facts.empty()) << "the camera's NDI source never appeared:\n" << script.output();
    const std::string camera_ns = facts["BOARD_CAMERA_NETNS"];
    const std::string studio_ns = facts["BOARD_STUDIO_NETNS"];
    if (camera_ns.empty()) {
        script.signal(SIGINT);
        EXPECT_EQ(script.wait_exit(kStopDeadline), 0) << script.output();
        GTEST_SKIP() << "this machine refused to create network namespaces";
    }
    EXPECT_TRUE(netns_present(camera_ns));
    EXPECT_EQ(facts["BOARD_NDI_ADDRESS"].rfind("10.77.0.2:", 0), 0U) << facts["BOARD_NDI_ADDRESS"];

    // The shell commands the camera runs for its own address, mask, MAC and gateway see its eth0
    // in BusyBox's format.
    const char* machine_path = std::getenv("PATH");
    const std::string path =
        "PATH=" + m_root + "/bin:" + (machine_path != nullptr ? machine_path : "/usr/bin:/bin");
    const auto shell = [&](const std::string& command) {
        return run_command({"ip", "netns", "exec", camera_ns, "env", path, "sh", "-c", command},
                           30s)
            .output;
    };
    EXPECT_EQ(shell("ifconfig eth0 | grep 'inet addr' | cut -d: -f2 | awk '{print $1}'"),
              "10.77.0.2\n");
    EXPECT_EQ(shell("ifconfig eth0 | grep 'Mask' |  awk -F : '{ print $4}'"), "255.255.255.0\n");
    EXPECT_EQ(shell("ifconfig | awk '$0 ~ /HWaddr/ { print $5 }'"), "02:56:54:52:00:02\n");
    EXPECT_EQ(shell("ip route | grep 'default via' | awk '{ print $3}'"), "10.77.0.1\n");

    const std::string picture = m_dir / "program.shq";
    const auto monitor =
        run_command({"ip", "netns", "exec", studio_ns, kBin + "/ndi-monitor", "--streams",
                     "program", "--save-picture", picture, "--seconds", kMonitorSeconds,
                     "--connect-timeout", "30", facts["BOARD_NDI_ADDRESS"]},
                    kMonitorDeadline);
    EXPECT_EQ(monitor.status, 0) << monitor.output;
    EXPECT_TRUE(contains(monitor.output, "connected to 'CAM' at 10.77.0.2:")) << monitor.output;
    // Announced under the camera's own host name (the board root's /etc/hostname).
    std::string listed;
    EXPECT_FALSE(facts["BOARD_STUDIO_DBUS"].empty()) << "no mDNS daemons on the board";
    EXPECT_TRUE(vantor::test::wait_until(
        [&] {
            listed = run_command({"ip", "netns", "exec", studio_ns, "env",
                                  "DBUS_SYSTEM_BUS_ADDRESS=" + facts["BOARD_STUDIO_DBUS"],
                                  kBin + "/ndi-monitor", "--list", "--seconds", "1"},
                                 30s)
                         .output;
            return contains(listed, "vtrcam01 (CAM)  10.77.0.2:");
        },
        30s))
        << listed;
    EXPECT_TRUE(contains(monitor.output, "1280x720 SHQ2)")) << monitor.output;
    EXPECT_GT(best_program_rate(monitor.output, "1280x720"), 0.0) << monitor.output;
    EXPECT_FALSE(read_text(picture).empty());

    const auto visca = run_command(
        {"ip", "netns", "exec", studio_ns, kBin + "/visca-ip", "10.77.0.2", "zoom-pos?"}, 30s);
    EXPECT_EQ(visca.status, 0) << visca.output;
    EXPECT_TRUE(contains(visca.output, "seq 1  reply          90 50 ")) << visca.output;

    script.signal(SIGINT);
    EXPECT_EQ(script.wait_exit(kStopDeadline), 0) << script.output();
    const std::string output = script.output();
    // encoder-app went first and shut down in order (its own output is in its log), then the
    // board came down.
    EXPECT_TRUE(contains(app_log(), "End Nimbo 4k enc app")) << app_log();
    const auto app_end = output.find("encoder-app ended with status 0");
    const auto netns_gone = output.find("removed network namespaces");
    EXPECT_NE(app_end, std::string::npos) << output;
    EXPECT_NE(netns_gone, std::string::npos) << output;
    EXPECT_LT(app_end, netns_gone) << output;
    // VISCA over IP and discovery run as on the camera, reached from the studio namespace.
    EXPECT_TRUE(contains(output, "ip netns exec " + studio_ns + " " + kBin + "/visca-ip 10.77.0.2"))
        << output;
    EXPECT_FALSE(contains(output, "IP-setup discovery is off")) << output;
    expect_nothing_left({camera_ns, studio_ns});
    // A board root given on the command line stays, settings and all.
    EXPECT_TRUE(contains(read_text(m_root + "/etc/vantor-enc1-settings.json"),
                         R"("VideoFormat":"720p59.94")"));
}

// On loopback, found by name in the board's own sender registry; --duration ends the run.
TEST_F(BoardRunTest, LoopbackCameraIsFoundByNameAndStopsAfterItsDuration)
{
    BoardScript script(kSource, {"--bin", kBin, "--root", m_root, "--no-netns", "--duration", "20"},
                       m_log);
    ASSERT_TRUE(script.started());
    auto facts = wait_board_env(script, m_root, "BOARD_NDI_ADDRESS", kUpDeadline);
    ASSERT_FALSE(facts.empty()) << "the camera's NDI source never appeared:\n" << script.output();
    EXPECT_TRUE(facts["BOARD_CAMERA_NETNS"].empty());
    EXPECT_EQ(facts["BOARD_NDI_ADDRESS"].rfind("127.0.0.1:", 0), 0U) << facts["BOARD_NDI_ADDRESS"];

    const auto monitor = run_command({"env", "VANTOR_NDI_REGISTRY=" + facts["VANTOR_NDI_REGISTRY"],
                                      kBin + "/ndi-monitor", "--streams", "program",
                                      "--save-picture", m_dir / "program.shq", "--seconds",
                                      kMonitorSeconds, "--connect-timeout", "30", "CAM"},
                                     kMonitorDeadline);
    EXPECT_EQ(monitor.status, 0) << monitor.output;
    EXPECT_TRUE(contains(monitor.output, "1920x1080 SHQ2)")) << monitor.output;
    EXPECT_GT(best_program_rate(monitor.output, "1920x1080"), 0.0) << monitor.output;
    // The default plain files reach the product metadata.
    EXPECT_TRUE(contains(monitor.output, R"(model_name="Vantor OPTA R8T")")) << monitor.output;

    EXPECT_EQ(script.wait_exit(kStopDeadline), 0) << script.output();
    const std::string output = script.output();
    EXPECT_TRUE(contains(output, "20 s passed")) << output;
    // The board's ALSA configuration opens the headset device by its own name, fed by audio-sim.
    const std::string log = app_log();
    EXPECT_TRUE(contains(log, "initialiseAudioDevice(default:CARD=vtrheadsetsnd) done")) << log;
    EXPECT_TRUE(contains(log, "sound card shut down successfully")) << log;
    EXPECT_TRUE(contains(log, "End Nimbo 4k enc app")) << log;
    // The status screen's plain line (standard output is no terminal here).
    EXPECT_TRUE(contains(output, "status: format: 1080p59.94; program: 1920x1080 SHQ2")) << output;
    expect_nothing_left({});
}

// A simulator that dies takes the board down: encoder-app is still stopped in order, the rest ends,
// and the script says what happened and fails.
TEST_F(BoardRunTest, ASimulatorThatDiesEarlyStopsTheBoard)
{
    BoardScript script(kSource,
                       {"--bin", kBin, "--root", m_root, "--no-netns", "--duration", "600"}, m_log);
    ASSERT_TRUE(script.started());
    auto facts = wait_board_env(script, m_root, "BOARD_NDI_ADDRESS", kUpDeadline);
    ASSERT_FALSE(facts.empty()) << "the camera's NDI source never appeared:\n" << script.output();
    const int encoder_pid = std::stoi(facts["BOARD_SPEEDHQ_SIM_PID"]);
    ASSERT_GT(encoder_pid, 0);
    ASSERT_EQ(::kill(encoder_pid, SIGKILL), 0);

    EXPECT_EQ(script.wait_exit(kStopDeadline), 1) << script.output();
    const std::string output = script.output();
    EXPECT_TRUE(contains(output, "speedhq-sim ended early")) << output;
    EXPECT_TRUE(contains(app_log(), "End Nimbo 4k enc app")) << app_log();
    expect_nothing_left({});
}

// The status screen's receivers print a line a second for as long as the board runs: their logs
// are rotated, the newest lines in the log, the part before in ".1", older ones dropped.
TEST(BoardLog, RotatedLogKeepsTheNewestLinesInTwoParts)
{
    const vantor::test::TempDir dir;
    const std::string log = dir / "status.log";
    const vantor::test::CommandResult result =
        run_command({"env", "VANTOR_BOARD_LOG_LINES=10", "bash", "-c",
                     R"(source "$0" && seq 1 25 | log_rotate_into "$1" && log_text "$1")",
                     kSource + "/scripts/lib/board-log.sh", log},
                    30s);
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(read_text(log), "21\n22\n23\n24\n25\n");
    EXPECT_EQ(read_text(log + ".1"), "11\n12\n13\n14\n15\n16\n17\n18\n19\n20\n");
    EXPECT_EQ(result.output, "11\n12\n13\n14\n15\n16\n17\n18\n19\n20\n21\n22\n23\n24\n25\n");
}

}  // namespace
