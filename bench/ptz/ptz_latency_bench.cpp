// Times NDI PTZ metadata from a receiver's send until the first byte of the VISCA packet it
// causes leaves on the serial line. The encoder application's camera control runs for real (NDI
// metadata, tally, status and web-UI threads, the engine) with a real NDI sender and receiver;
// between the engine's line and the camera-module simulator's sits a probe: a pty pair of its
// own that forwards every byte both ways and stamps the first byte of each packet the engine
// writes.
//
//   ptz_latency_bench [commands] [gap_ms] [open]     (default 500 commands, 150 ms apart)
//
// Closed loop (default): each command is sent `gap_ms` after the previous one reached the line.
// Open loop ("open"): commands are sent on a schedule of their own, as a controller sends them,
// each after a random interval of 0.5 to 1.5 x `gap_ms`, so they meet the engine at any phase of
// its cycle and may be in flight together. They cycle through zoom in, pan right, zoom stop, pan
// stop, so two commands for the same axis are always two intervals apart; a command that a later
// one for its axis replaced within one buffer never reaches the line and is counted as replaced.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "camcontrol/Camcontrol.h"
#include "support/camera_sim.h"
#include "support/line_probe.h"
#include "support/percentile.h"
#include "support/temp_board_root.h"
#include "vantor/unique_fd.h"

namespace {

using vantor::bench::LineProbe;
using vantor::bench::percentile;

using Clock = std::chrono::steady_clock;

}  // namespace

int main(int argc, char** argv)
{
    const int commands = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;
    const int gap_ms = argc > 2 ? std::max(0, std::atoi(argv[2])) : 150;
    const bool open_loop = argc > 3 && std::string(argv[3]) == "open";
    ::setenv("VANTOR_NDI_ADDRESS", "127.0.0.1", 1);

    vantor::test::TempBoardRoot board;
    board.make_dir("/dev");
    board.make_dir("/etc");
    board.make_dir("/tmp");
    vantor::test::write_text(board / "/etc/vantor-ptz-settings.json",
                             R"({"PanSpeed":"20","TiltSpeed":"16","ZoomSpeed":"7"})");
    vantor::test::CameraSimProcess sim(VANTOR_BIN_DIR, board / "/camera-line", board / "/sim.sock",
                                       {"--format-delay", "0"});
    const vantor::UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    const vantor::UniqueFd camera(
        ::open((board / "/camera-line").c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!sim.ready() || !master || ::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0 ||
        !camera || !LineProbe::set_raw_9600(camera.get()) ||
        ::symlink(::ptsname(master.get()), (board / "/dev/ttyPS1").c_str()) != 0) {
        std::fprintf(stderr, "ptz_latency_bench: the line could not be set up\n");
        return 1;
    }
    LineProbe probe(master.get(), camera.get());

    NDIlib_initialize();
    const NDIlib_send_create_t send_settings("PTZ-BENCH", nullptr, false, false);
    NDIlib_send_instance_t sender = NDIlib_send_create_v2(&send_settings, nullptr);
    const NDIlib_recv_create_v3_t recv_settings(
        NDIlib_source_t(nullptr, NDIlib_send_get_source_name(sender)->p_url_address),
        NDIlib_recv_bandwidth_metadata_only, "ptz bench");
    NDIlib_recv_instance_t receiver = NDIlib_recv_create_v3(&recv_settings);

    std::vector<double> latencies;
    {
        Camcontrol control;
        control.ndi_tx_inst = sender;
        control.camera_poll_period = std::chrono::milliseconds(1);
        if (control.cam_init_Camcontrol(0) != 1) {
            std::fprintf(stderr, "ptz_latency_bench: the camera did not answer\n");
            return 1;
        }
        control.init_Camcontrol();
        while (NDIlib_recv_get_no_connections(receiver) < 1) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        struct Command {
            std::string xml;
            std::vector<uint8_t> packet;
        };
        // Closed loop: zoom in and stop, in turn (each packet differs from the one before).
        // Open loop: also pan right and stop, so consecutive commands are for different axes.
        const std::vector<Command> kinds =
            open_loop
                ? std::vector<Command>{{R"(<ntk_ptz_zoom_speed zoom_speed="0.3"/>)",
                                        {0x81, 0x01, 0x04, 0x07, 0x22, 0xFF}},
                                       {R"(<ntk_ptz_pan_tilt_speed pan_speed="-0.05"/>)",
                                        {0x81, 0x01, 0x06, 0x01, 0x01, 0x01, 0x02, 0x03, 0xFF}},
                                       {R"(<ntk_ptz_zoom_speed zoom_speed="0"/>)",
                                        {0x81, 0x01, 0x04, 0x07, 0x00, 0xFF}},
                                       {R"(<ntk_ptz_pan_tilt_speed/>)",
                                        {0x81, 0x01, 0x06, 0x01, 0x05, 0x05, 0x03, 0x03, 0xFF}}}
                : std::vector<Command>{{R"(<ntk_ptz_zoom_speed zoom_speed="0.3"/>)",
                                        {0x81, 0x01, 0x04, 0x07, 0x22, 0xFF}},
                                       {R"(<ntk_ptz_zoom_speed zoom_speed="0"/>)",
                                        {0x81, 0x01, 0x04, 0x07, 0x00, 0xFF}}};
        const auto send = [&](const Command& command) {
            std::string text = command.xml;
            NDIlib_metadata_frame_t frame(0, NDIlib_send_timecode_synthesize, text.data());
            const auto sent = Clock::now();
            NDIlib_recv_send_metadata(receiver, &frame);
            return sent;
        };
        // When the first packet equal to `packet` reached the camera after `since`, if it did yet.
        const auto reached = [&probe](const std::vector<uint8_t>& packet, Clock::time_point since,
                                      Clock::time_point& at) {
            LineProbe::Packet found;
            if (!probe.find(LineProbe::Direction::ToCamera, packet, since, found)) {
                return false;
            }
            at = found.first_byte;
            return true;
        };
        int missed = 0;
        int replaced = 0;
        if (open_loop) {
            std::mt19937 random(12345);
            std::uniform_int_distribution<int> interval_us(gap_ms * 500, gap_ms * 1500);
            std::vector<Clock::time_point> sent(static_cast<std::size_t>(commands));
            auto next = Clock::now();
            for (int i = 0; i < commands; ++i) {
                std::this_thread::sleep_until(next);
                sent[static_cast<std::size_t>(i)] = send(kinds[i % kinds.size()]);
                next += std::chrono::microseconds(interval_us(random));
            }
            std::this_thread::sleep_for(std::chrono::seconds(2));
            const auto cycle = static_cast<int>(kinds.size());
            for (int i = 0; i < commands; ++i) {
                const Command& command = kinds[i % kinds.size()];
                Clock::time_point at;
                const auto since = sent[static_cast<std::size_t>(i)];
                if (!reached(command.packet, since, at)) {
                    ++missed;
                } else if (i + cycle < commands && at >= sent[static_cast<std::size_t>(i) +
                                                              static_cast<std::size_t>(cycle)]) {
                    ++replaced;  // the packet found is that of the next command of its kind
                } else {
                    latencies.push_back(
                        std::chrono::duration<double, std::milli>(at - since).count());
                }
            }
        } else {
            for (int i = 0; i < commands; ++i) {
                const Command& command = kinds[i % kinds.size()];
                const auto sent = send(command);
                Clock::time_point at;
                const auto deadline = sent + std::chrono::seconds(2);
                bool found = false;
                while (!(found = reached(command.packet, sent, at)) && Clock::now() < deadline) {
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                }
                if (found) {
                    latencies.push_back(
                        std::chrono::duration<double, std::milli>(at - sent).count());
                } else {
                    ++missed;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(gap_ms));
            }
        }
        control.deinit_Camcontrol();
        std::printf("commands %d, %s, gap %d ms, missed %d, replaced %d\n", commands,
                    open_loop ? "open loop" : "closed loop", gap_ms, missed, replaced);
    }
    NDIlib_recv_destroy(receiver);
    NDIlib_send_destroy(sender);
    NDIlib_destroy();
    if (latencies.empty()) {
        return 1;
    }
    std::printf("metadata to first byte on the line: median %.2f ms, p90 %.2f ms, p99 %.2f ms, "
                "max %.2f ms\n",
                percentile(latencies, 0.5), percentile(latencies, 0.9), percentile(latencies, 0.99),
                percentile(latencies, 1.0));
    return 0;
}
