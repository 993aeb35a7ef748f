// Times NDI PTZ metadata from a receiver's send until the first byte of the VISCA packet it
// causes leaves on the serial line. The encoder application's camera control runs for real (NDI
// metadata, tally, status and web-UI threads, the engine) with a real NDI sender and receiver;
// between the engine's line and the camera-module simulator's sits a probe: a pty pair of its
// own that forwards every byte both ways and stamps the first byte of each packet the engine
// writes.
//
//   ptz_latency_bench [commands] [gap_ms]     (default 500 commands, 150 ms apart)
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
        // Zoom in and stop, in turn: each command's packet differs from the one before.
        struct Command {
            std::string xml;
            std::vector<uint8_t> packet;
        };
        const Command kinds[] = {
            {R"(<ntk_ptz_zoom_speed zoom_speed="0.3"/>)", {0x81, 0x01, 0x04, 0x07, 0x22, 0xFF}},
            {R"(<ntk_ptz_zoom_speed zoom_speed="0"/>)", {0x81, 0x01, 0x04, 0x07, 0x00, 0xFF}},
        };
        int missed = 0;
        for (int i = 0; i < commands; ++i) {
            const Command& command = kinds[i % 2];
            std::string text = command.xml;
            NDIlib_metadata_frame_t frame(0, NDIlib_send_timecode_synthesize, text.data());
            const auto sent = Clock::now();
            NDIlib_recv_send_metadata(receiver, &frame);
            LineProbe::Packet packet;
            const auto deadline = sent + std::chrono::seconds(2);
            bool found = false;
            while (!(found = probe.find(LineProbe::Direction::ToCamera, command.packet, sent,
                                        packet)) &&
                   Clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            if (found) {
                latencies.push_back(
                    std::chrono::duration<double, std::milli>(packet.first_byte - sent).count());
            } else {
                ++missed;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(gap_ms));
        }
        control.deinit_Camcontrol();
        std::printf("commands %d, gap %d ms, missed %d\n", commands, gap_ms, missed);
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
