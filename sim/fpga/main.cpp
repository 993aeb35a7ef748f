// fpga-sim: the FPGA model of the virtual board. Maps the board root's "/dev/mem" stand-in (a
// sparse file, created if missing) and keeps the registers the daemon reads in step with what it
// writes.

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "control.h"
#include "fpga_model.h"
#include "vantor/board_root.h"

namespace {

std::atomic<bool> g_stop{false};

void on_signal(int /*signal*/)
{
    g_stop = true;
}

void usage()
{
    std::printf(
        "usage: fpga-sim [--help]\n"
        "\n"
        "The FPGA model of the virtual board. Maps <board root>/dev/mem (VANTOR_ROOT names the "
        "board\n"
        "root; the file is created sparse if missing) at the register windows' physical offsets,\n"
        "polls the registers about every millisecond and drives the SDI status, hot-plug,\n"
        "pixel-clock timer and input-lock registers. Prints \"fpga-sim: ready <path>\" once "
        "mapped.\n"
        "\n"
        "Commands on standard input, one per line; each answer ends with \"ok\" or \"err ...\":\n"
        "  sync                          scan the registers now\n"
        "  dump                          every register: NAME 0xVALUE\n"
        "  log                           register changes seen since the last log: NAME 0xVALUE\n"
        "  sdi-lock drop|restore [0|1|2] drop or restore SDI lock of one channel (default all)\n"
        "  hpd plug|unplug               connect or disconnect the HDMI display\n"
        "  input-lock drop|restore       lose or regain the video input\n"
        "  quit                          end\n"
        "End of input leaves the model running until SIGTERM or SIGINT.\n");
}

void answer(const std::vector<std::string>& lines)
{
    for (const std::string& line : lines) {
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1) {
        usage();
        return std::strcmp(argv[1], "--help") == 0 ? 0 : 2;
    }
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);

    // Without a board root "/dev/mem" is the machine's physical memory.
    const char* root = std::getenv(vantor::kBoardRootVariable);
    if (root == nullptr || root[0] == '\0' || std::strspn(root, "/") == std::strlen(root)) {
        std::fprintf(stderr, "fpga-sim: %s must name the board root; refusing to start\n",
                     vantor::kBoardRootVariable);
        return 1;
    }
    const std::string path = vantor::board_path("/dev/mem");
    FpgaModel model;
    std::string error;
    if (!model.open(path, error)) {
        std::fprintf(stderr, "fpga-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("fpga-sim: ready %s\n", path.c_str());
    std::fflush(stdout);

    bool input_open = true;
    bool quit = false;
    std::string pending;
    while (!quit && !g_stop) {
        struct pollfd pfd {
            STDIN_FILENO, POLLIN, 0
        };
        const int ready = ::poll(&pfd, input_open ? 1 : 0, 1);
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready <= 0) {
            model.scan();
            continue;
        }
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            input_open = n < 0 && errno == EINTR;
            continue;
        }
        pending.append(buffer, static_cast<size_t>(n));
        size_t end = 0;
        while (!quit && (end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            std::vector<std::string> reply;
            run_command(model, line, reply, quit);
            answer(reply);
        }
    }
    return 0;
}
