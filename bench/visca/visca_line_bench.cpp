// Times VISCA transactions of the real engine against the camera-module simulator and sets each
// against the time the 9600-baud line itself needs for the bytes exchanged, plus the receive
// time-outs of the module's UART FIFO (the simulator's default: a reply that does not fill the
// 8-byte FIFO is handed over after 4 idle byte times), after taking off the simulator's
// processing delay. The last kind sends a command while a long move
// still runs on socket 1: it is answered on socket 2 and must complete without a resend.
//
//   visca_line_bench [rounds]     (default 200 per kind)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "support/camera_sim.h"
#include "support/percentile.h"
#include "support/temp_board_root.h"
#include "visca/visca.h"

namespace {

using vantor::bench::percentile;

using Clock = std::chrono::steady_clock;
constexpr double kByteMs = 10.0 / 9600.0 * 1000.0;  // 8N1: ten bits a byte
constexpr int kFifoTimeoutBytes = 4;                // receive time-out: 4 idle byte times

struct Kind {
    const char* name;
    int line_bytes;  // bytes out plus bytes back
    int fifo_waits;  // receive time-outs before the answer is complete: one per burst that does
                     // not fill the FIFO (acknowledgement and completion come as one burst)
    int delays;      // processing delays that lengthen it: one per transaction, as a
                     // completion's delay passes while the acknowledgement goes out
    std::function<bool(visca&)> run;
    std::function<void(visca&)> before;  // once before the rounds (may be empty)
    std::function<void(visca&)> after;   // once after them
    const char* packet = nullptr;        // when set: counted in the simulator's history, so a
                                         // resend shows
};

bool run_command(visca& v, int cmd_type, int cmd_id, uint64_t parameter)
{
    visca_command cmd;
    visca::create_command(cmd, 1, cmd_type, cmd_id, parameter);
    v.visca_exec_cmd(cmd);
    return cmd.ack && cmd.comp;
}

void run_packet(visca& v, std::initializer_list<uint8_t> bytes)
{
    visca_command cmd;
    std::copy(bytes.begin(), bytes.end(), cmd.cmd);
    cmd.cmd_length = static_cast<int>(bytes.size());
    v.visca_exec_cmd(cmd);
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    vantor::test::TempBoardRoot board;
    board.make_dir("/dev");
    vantor::test::CameraSimProcess sim(VANTOR_BIN_DIR, board / "/dev/ttyPS1", board / "/sim.sock",
                                       {"--format-delay", "0"});
    visca engine;
    if (!sim.ready() || engine.init_visca() != 1) {
        std::fprintf(stderr, "visca_line_bench: camera-sim did not start\n");
        return 1;
    }

    const std::vector<Kind> kinds = {
        {"command 81 01 04 07 00 FF + ack + completion", 12, 1, 1,
         [](visca& v) { return run_command(v, 0x04, 0x07, 0x00); }, nullptr, nullptr, nullptr},
        {"inquiry 81 09 04 24 72 FF -> 5-byte reply", 11, 1, 1,
         [](visca& v) {
             visca_inq_command inq;
             visca::create_inqcommand(inq, 1, 0x04, 0x24, 0x72);
             v.visca_exec_inq_cmd(inq);
             return inq.inq_fill;
         },
         nullptr, nullptr, nullptr},
        {"version 81 09 00 02 FF -> 10-byte reply", 15, 1, 1,
         [](visca& v) {
             visca_inq_command inq;
             visca::create_inqcommand(inq, 0, 0x00, 0x02, 0);
             v.visca_exec_inq_cmd(inq);
             return inq.inq_fill;
         },
         nullptr, nullptr, nullptr},
        {"block 81 09 7E 7E 10 FF -> 16-byte reply", 22, 0, 1,
         [](visca& v) {
             visca_inq_command inq;
             visca::create_inqcommand(inq, 1, 0x7E, 0x7E, 0x10);
             v.visca_exec_inq_cmd(inq);
             return inq.inq_fill;
         },
         nullptr, nullptr, nullptr},
        {"zoom stop during a pan move: socket 2", 12, 1, 1,
         [](visca& v) { return run_command(v, 0x04, 0x07, 0x00); },
         // A slow pan across the range holds socket 1 for the whole run; a stop ends it.
         [](visca& v) {
             run_packet(v, {0x81, 0x01, 0x06, 0x02, 0x01, 0x01, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00,
                            0x00, 0x00, 0xFF});
         },
         [](visca& v) {
             run_packet(v, {0x81, 0x01, 0x06, 0x01, 0x05, 0x05, 0x03, 0x03, 0xFF});
         },
         "81 01 04 07 00 FF"},
    };

    const double delay_ms = std::atof(sim.state()["processing_delay_ms"].c_str());
    std::printf("simulator processing delay before each reply: %.1f ms\n", delay_ms);
    std::printf("%-46s %6s %8s %8s %8s %8s %7s %8s\n", "transaction", "bytes", "line ms", "median",
                "p90", "max", "ratio", "resends");
    int failures = 0;
    for (const Kind& kind : kinds) {
        if (kind.before) {
            kind.before(engine);
        }
        sim.ok("clear");
        std::vector<double> ms;
        for (int i = 0; i < rounds; ++i) {
            const auto start = Clock::now();
            if (!kind.run(engine)) {
                ++failures;
            }
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        std::string resends = "-";
        if (kind.packet != nullptr) {
            const auto history = sim.history();
            const auto sent = std::count(history.begin(), history.end(), kind.packet);
            resends = std::to_string(sent - rounds);
            failures += static_cast<int>(sent - rounds);
        }
        if (kind.after) {
            kind.after(engine);
        }
        const double line = (kind.line_bytes + kind.fifo_waits * kFifoTimeoutBytes) * kByteMs;
        const double median = percentile(ms, 0.5);
        std::printf("%-46s %6d %8.2f %8.2f %8.2f %8.2f %7.3f %8s\n", kind.name, kind.line_bytes,
                    line, median, percentile(ms, 0.9), percentile(ms, 1.0),
                    (median - kind.delays * delay_ms) / line, resends.c_str());
    }
    engine.deinit_visca();
    std::printf("failed transactions: %d\n", failures);
    return failures == 0 ? 0 : 1;
}
