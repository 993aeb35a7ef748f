// VISCA over IP against the virtual board, measured with visca-ip: a 6-byte command from the
// datagram sent until its completion arrived, against the line time of the 12 bytes it puts on
// the serial line and the receive FIFO's time-out; then 100 inquiries from each of two
// controllers at once. Then, with a probe on the serial line, the relay of late completions (a
// direct zoom completes long after its transaction): from the completion's last byte reaching the
// program to its datagram at the controller. Last, a flood of block inquiries: replies per second
// under the block reply's rate budget.
#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "camcontrol/voip_board.h"
#include "camcontrol/voip_framing.h"
#include "support/child_process.h"
#include "support/line_probe.h"
#include "support/percentile.h"
#include "support/temp_board_root.h"

namespace {

constexpr double kByteMs = 10.0 * 1000.0 / 9600.0;  // 8N1 at 9600 baud
constexpr int kCommandLineBytes = 12;               // command 6, acknowledgement 3, completion 3
// The module's UART hands acknowledgement and completion over together, 4 idle byte times after
// the last.
constexpr int kFifoTimeoutBytes = 4;
constexpr int kRelayRounds = 20;
constexpr auto kFloodTime = std::chrono::seconds(2);

using Clock = std::chrono::steady_clock;
using vantor::bench::LineProbe;
using vantor::bench::percentile;
using vantor::test::Bytes;

Bytes datagram(uint32_t sequence, const Bytes& message)
{
    Bytes bytes(VOIP_HEADER_LENGTH);
    voip_write_header(VOIP_VISCA_COMMAND, static_cast<uint16_t>(message.size()), sequence,
                      bytes.data());
    bytes.insert(bytes.end(), message.begin(), message.end());
    return bytes;
}

// The engine's line through a probe: the simulator's link is moved aside and a pty of the
// probe's own takes its place. The probe, or null when the line could not be set up.
struct ProbedLine {
    vantor::UniqueFd master;
    vantor::UniqueFd camera;
    std::unique_ptr<LineProbe> probe;
};

bool probe_line(const vantor::test::VoipBoard& board, ProbedLine& line)
{
    const std::string link = board.board / "/dev/ttyPS1";
    const std::string moved = board.board / "/camera-line";
    if (std::rename(link.c_str(), moved.c_str()) != 0) {
        return false;
    }
    line.master.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    line.camera.reset(::open(moved.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!line.master || ::grantpt(line.master.get()) != 0 || ::unlockpt(line.master.get()) != 0 ||
        !line.camera || !LineProbe::set_raw_9600(line.camera.get()) ||
        ::symlink(::ptsname(line.master.get()), link.c_str()) != 0) {
        return false;
    }
    line.probe = std::make_unique<LineProbe>(line.master.get(), line.camera.get());
    return true;
}

// Direct zooms of 0x1000 (0.5 s at the module's 8192 units/s) back and forth: the time from the
// completion's last byte reaching the program to its datagram at the controller, in ms.
std::vector<double> relay_latencies(const vantor::test::VoipController& controller,
                                    LineProbe& probe, int& missed)
{
    std::vector<double> ms;
    for (int round = 0; round < kRelayRounds; ++round) {
        const uint8_t high = round % 2 == 0 ? 0x01 : 0x00;
        const auto sequence = static_cast<uint32_t>(9000 + round);
        const auto sent = Clock::now();
        controller.send(datagram(sequence, {0x81, 0x01, 0x04, 0x47, high, 0x00, 0x00, 0x00, 0xFF}));
        const auto ack = controller.receive(std::chrono::milliseconds(2000));
        const auto completion = controller.receive(std::chrono::milliseconds(3000));
        const auto received = Clock::now();
        LineProbe::Packet packet;
        // The move takes 0.5 s: an earlier completion on the line is another command's.
        const auto since = sent + std::chrono::milliseconds(300);
        const bool found =
            probe.find(LineProbe::Direction::ToEngine, {0x90, 0x51, 0xFF}, since, packet) ||
            probe.find(LineProbe::Direction::ToEngine, {0x90, 0x52, 0xFF}, since, packet);
        if (!ack || !completion || completion->size() != 11 || (*completion)[9] >> 4U != 5 ||
            !found) {
            ++missed;
            continue;
        }
        ms.push_back(
            std::chrono::duration<double, std::milli>(received - packet.last_byte).count());
    }
    return ms;
}

// Block inquiries about every 0.5 ms for kFloodTime; the replies that came.
int flood_block_inquiries(const vantor::test::VoipController& controller, int& sent)
{
    const Bytes block = datagram(1, {0x81, 0x09, 0x7E, 0x7E, 0xEE, 0xFF});
    int replies = 0;
    const auto end = Clock::now() + kFloodTime;
    for (sent = 0; Clock::now() < end; ++sent) {
        controller.send(block);
        while (controller.receive(std::chrono::milliseconds(0))) {
            ++replies;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    while (controller.receive(std::chrono::milliseconds(200))) {
        ++replies;
    }
    return replies;
}

// Starts visca-ip with `args`, its output into `out`; the pid.
pid_t start_tool(const std::vector<std::string>& args, const std::string& out)
{
    std::vector<std::string> argv = {std::string(VANTOR_BIN_DIR) + "/visca-ip"};
    argv.insert(argv.end(), args.begin(), args.end());
    vantor::test::ChildStreams streams;
    streams.out = {-1, out, O_WRONLY | O_CREAT | O_TRUNC};
    return vantor::test::start_child(argv, streams);
}

std::string finish(pid_t pid, const std::string& out)
{
    int status = 0;
    ::waitpid(pid, &status, 0);
    return vantor::test::read_text(out);
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
    if (rounds < 1) {
        std::fprintf(stderr, "usage: voip-bench [rounds]\n");
        return 1;
    }
    const std::string address = vantor::test::own_loopback_address();
    // The camera answers without a processing delay of its own: what is left is the line and the
    // firmware.
    vantor::test::VoipBoard board(address, {}, {"--processing-delay", "0"});
    in_addr reach{};
    ::inet_pton(AF_INET, address.c_str(), &reach);
    ProbedLine line;
    if (!board.camera.ready() || !board.encoder.ready() || !probe_line(board, line) ||
        !board.start_app(reach)) {
        std::fprintf(stderr, "voip-bench: the virtual board did not come up\n");
        return 2;
    }
    const std::string out = board.board / "/bench.out";
    const std::string command =
        finish(start_tool({"--repeat", std::to_string(rounds), address, "zoom-stop"}, out), out);
    const double line_ms = (kCommandLineBytes + kFifoTimeoutBytes) * kByteMs;
    std::printf("command 81 01 04 07 00 FF, %d rounds: %s", rounds, command.c_str());
    std::printf(
        "line time of its %d bytes and the FIFO time-out: %.3f ms; goal: median <= %.3f ms (1.10 x "
        "line + 1 ms)\n",
        kCommandLineBytes, line_ms, 1.10 * line_ms + 1.0);

    const std::string out_a = board.board / "/a.out";
    const std::string out_b = board.board / "/b.out";
    const pid_t a = start_tool({"--repeat", "100", "--no-reset", address, "zoom-pos?"}, out_a);
    const pid_t b = start_tool(
        {"--repeat", "100", "--no-reset", "--sequence", "5001", address, "zoom-pos?"}, out_b);
    std::printf("controller A, zoom inquiries: %s", finish(a, out_a).c_str());
    std::printf("controller B, zoom inquiries: %s", finish(b, out_b).c_str());

    const vantor::test::VoipController controller(reach, 52381);
    int missed = 0;
    const std::vector<double> relay = relay_latencies(controller, *line.probe, missed);
    if (relay.empty()) {
        std::printf("late completion relay: no completion relayed (%d missed)\n", missed);
        return 3;
    }
    std::printf("late completion relay, line to datagram, %zu rounds (%d missed): median %.3f ms, "
                "p90 %.3f ms, max %.3f ms; goal: median <= 2 ms\n",
                relay.size(), missed, percentile(relay, 0.5), percentile(relay, 0.9),
                percentile(relay, 1.0));
    int sent = 0;
    const int replies = flood_block_inquiries(controller, sent);
    const double seconds = std::chrono::duration<double>(kFloodTime).count();
    std::printf("block inquiry flood: %d sent in %.1f s, %d replies, %.1f replies per second\n",
                sent, seconds, replies, replies / seconds);
    return missed == 0 ? 0 : 3;
}
