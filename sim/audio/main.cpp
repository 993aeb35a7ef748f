// audio-sim: the virtual board's headset input. See README.md beside this file.

#include <getopt.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "audio_commands.h"
#include "control_socket.h"
#include "fifo_feeder.h"
#include "vantor/board_root.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::microseconds kBlockPeriod{10000};
// Further behind than this (the simulator was stopped or starved), the schedule starts afresh
// instead of catching up with a burst.
constexpr std::chrono::seconds kResyncAfter{1};

volatile std::sig_atomic_t g_stop = 0;

void on_signal(int /*signal*/)
{
    g_stop = 1;
}

void print_help(std::FILE* out)
{
    std::fprintf(
        out,
        "Usage: audio-sim [--fifo PATH] [--control PATH]\n"
        "\n"
        "Feeds the virtual board's headset input: writes a test signal into the FIFO that\n"
        "the board's ALSA configuration names as the capture device's input file, in blocks\n"
        "of 480 frames of 48 kHz stereo S24_3LE (2880 bytes), one every 10 ms on the\n"
        "monotonic clock (the schedule is absolute, so it does not drift). Blocks that find\n"
        "no reader, or a reader that has not taken the earlier ones, are dropped.\n"
        "\n"
        "Options:\n"
        "  --fifo PATH     the FIFO, created when missing (default: the board root's\n"
        "                  /dev/vtrheadsetsnd, that is $VANTOR_ROOT/dev/vtrheadsetsnd)\n"
        "  --control PATH  accept commands on a Unix stream socket at PATH, one per line,\n"
        "                  one reply line each ('ok ...' or 'error ...')\n"
        "  --help          this text\n"
        "\n"
        "Commands:\n%s%s"
        "\n"
        "SIGINT or SIGTERM ends the simulator; it removes its socket and the FIFO it made.\n",
        AudioSource::help(), FifoFeeder::card_help());
}

timespec until(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
    timespec span{};
    if (left.count() > 0) {
        span.tv_sec = static_cast<std::time_t>(left.count() / 1000000000);
        span.tv_nsec = static_cast<long>(left.count() % 1000000000);
    }
    return span;
}

}  // namespace

int main(int argc, char** argv)
{
    enum { kFifo = 1, kControl, kHelp };
    const option options[] = {{"fifo", required_argument, nullptr, kFifo},
                              {"control", required_argument, nullptr, kControl},
                              {"help", no_argument, nullptr, kHelp},
                              {nullptr, 0, nullptr, 0}};
    std::string fifo_path = vantor::board_path("/dev/vtrheadsetsnd");
    std::string control_path;
    for (int option = 0; (option = getopt_long(argc, argv, "", options, nullptr)) != -1;) {
        switch (option) {
        case kFifo:
            fifo_path = optarg;
            break;
        case kControl:
            control_path = optarg;
            break;
        case kHelp:
            print_help(stdout);
            return 0;
        default:
            print_help(stderr);
            return 2;
        }
    }
    if (optind != argc) {
        std::fprintf(stderr, "audio-sim: no arguments besides the options (see --help)\n");
        return 2;
    }

    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    FifoFeeder feeder;
    ControlSocket control;
    std::string error;
    if (!feeder.prepare(fifo_path, error) ||
        (!control_path.empty() && !control.listen_at(control_path, error))) {
        std::fprintf(stderr, "audio-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("audio-sim: feeding %s\n", fifo_path.c_str());
    std::fflush(stdout);

    AudioSource source;
    const auto handler = [&source, &feeder](const std::string& line) {
        std::string reply = feeder.card_command(line);
        return reply.empty() ? source.command(line) : reply;
    };
    std::uint8_t block[TestSignal::kBlockBytes];
    std::vector<pollfd> fds;
    auto next = Clock::now();
    while (g_stop == 0) {
        const auto now = Clock::now();
        if (now < next) {
            fds.clear();
            control.add_poll_fds(fds);
            const timespec span = until(next);
            const int ready = ::ppoll(fds.data(), fds.size(), &span, nullptr);
            if (ready > 0) {
                control.serve(handler);
            } else if (ready < 0 && errno != EINTR) {
                std::perror("audio-sim: ppoll");
                return 1;
            }
            continue;
        }
        if (now - next > kResyncAfter) {
            std::printf(
                "audio-sim: %lld ms behind the schedule: starting it afresh\n",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(now - next).count()));
            std::fflush(stdout);
            next = now;
        }
        if (source.next_block(block) && !feeder.write_block(block, sizeof block)) {
            source.count_dropped();
        }
        next += kBlockPeriod;
    }
    return 0;
}
