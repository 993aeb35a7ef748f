// VISCA over IP against the virtual board, measured with visca-ip: a 6-byte command from the
// datagram sent until its completion arrived, against the line time of the 12 bytes it puts on
// the serial line; then 100 inquiries from each of two controllers at once.
#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "camcontrol/voip_board.h"
#include "support/child_process.h"
#include "support/temp_board_root.h"

namespace {

constexpr double kByteMs = 10.0 * 1000.0 / 9600.0;  // 8N1 at 9600 baud
constexpr int kCommandLineBytes = 12;               // command 6, acknowledgement 3, completion 3

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
    if (!board.camera.ready() || !board.encoder.ready() || !board.start_app(reach)) {
        std::fprintf(stderr, "voip-bench: the virtual board did not come up\n");
        return 2;
    }
    const std::string out = board.board / "/bench.out";
    const std::string command =
        finish(start_tool({"--repeat", std::to_string(rounds), address, "zoom-stop"}, out), out);
    const double line_ms = kCommandLineBytes * kByteMs;
    std::printf("command 81 01 04 07 00 FF, %d rounds: %s", rounds, command.c_str());
    std::printf(
        "line time of its %d bytes: %.3f ms; goal: median <= %.3f ms (1.10 x line + 1 ms)\n",
        kCommandLineBytes, line_ms, 1.10 * line_ms + 1.0);

    const std::string out_a = board.board / "/a.out";
    const std::string out_b = board.board / "/b.out";
    const pid_t a = start_tool({"--repeat", "100", "--no-reset", address, "zoom-pos?"}, out_a);
    const pid_t b = start_tool(
        {"--repeat", "100", "--no-reset", "--sequence", "5001", address, "zoom-pos?"}, out_b);
    std::printf("controller A, zoom inquiries: %s", finish(a, out_a).c_str());
    std::printf("controller B, zoom inquiries: %s", finish(b, out_b).c_str());
    return 0;
}
