// fpga-sim: the FPGA model of the virtual board. Maps the board root's "/dev/mem" stand-in (a
// sparse file, created if missing) and keeps the registers the daemon reads in step with what it
// writes; relays command bytes through the UIO stand-in "/dev/uio1"; serves the I2C chips on
// "/dev/i2c-0".

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "board.h"
#include "control.h"
#include "vantor/board_root.h"
#include "vantor/file_io.h"
#include "vantor/unique_fd.h"

namespace {

std::atomic<bool> g_stop{false};

// How long the model keeps polling without waiting while a presented byte is not acknowledged.
constexpr auto kBusyPollLimit = std::chrono::milliseconds(50);
constexpr int kHandshakeSpins = 1000;

void on_signal(int /*signal*/)
{
    g_stop = true;
}

void usage()
{
    std::printf(
        "usage: fpga-sim [--control PATH] [--help]\n"
        "\n"
        "The FPGA model of the virtual board (VANTOR_ROOT names the board root; it refuses to\n"
        "start without one, or when <root>/dev/mem is not a regular file). Maps <root>/dev/mem\n"
        "(created sparse if missing) at the register windows' physical offsets, polls the\n"
        "registers about every millisecond and drives the SDI status, hot-plug, pixel-clock\n"
        "timer and input-lock registers. Links <root>/dev/uio1 to a raw pseudo-terminal that\n"
        "carries the command channel's interrupts and serves the I2C chips on the Unix socket\n"
        "<root>/dev/i2c-0. Prints \"fpga-sim: ready <path>\" once up.\n"
        "\n"
        "Commands, one per line on standard input (and on the --control socket); each answer\n"
        "ends with \"ok\" or \"err ...\":\n"
        "  sync | dump | log | events    scan | every register | register changes | register\n"
        "                                changes and I2C transactions in order\n"
        "  sdi-lock drop|restore [0|1|2] drop or restore SDI lock of one channel (default all)\n"
        "  hpd plug|unplug               connect or disconnect the HDMI display\n"
        "  input-lock drop|restore       lose or regain the video input\n"
        "  genlock CODE                  the clock generator's reference format code (0: none)\n"
        "  std HDMI SDI                  send a format change (standard numbers)\n"
        "  audio on|off, color rgb|yuv, mac TWELVECHARS, clear\n"
        "  text X Y STRING               menu text as position frames (UTF-8; CJK in GB2312)\n"
        "  feed HEX..., feed-file PATH   send raw command bytes\n"
        "  channel                       command channel state\n"
        "  osd-png PATH                  write the OSD as a PNG picture\n"
        "  quit                          end\n"
        "End of input leaves the model running until SIGTERM or SIGINT.\n");
}

// Refuses a board root that is unset, empty or "/": "/dev/mem" would be physical memory.
bool has_board_root()
{
    const char* root = std::getenv(vantor::kBoardRootVariable);
    return root != nullptr && root[0] != '\0' && std::strspn(root, "/") != std::strlen(root);
}

struct LineClient {
    vantor::UniqueFd fd;
    std::string pending;
};

// Runs every complete line in `pending`, answering on `out`. False once "quit" was seen.
bool run_lines(FpgaBoard& board, std::string& pending, int out)
{
    size_t end = 0;
    bool quit = false;
    while (!quit && (end = pending.find('\n')) != std::string::npos) {
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::vector<std::string> reply;
        run_command(board, line, reply, quit);
        std::string text;
        for (const std::string& r : reply) {
            text += r + "\n";
        }
        (void)vantor::write_all(out, text);
    }
    return !quit;
}

bool listen_control(const std::string& path, vantor::UniqueFd& listener)
{
    struct sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    ::unlink(path.c_str());
    listener.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    return listener &&
           ::bind(listener.get(), reinterpret_cast<const struct sockaddr*>(&addr), sizeof addr) ==
               0 &&
           ::listen(listener.get(), 4) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string control_path;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--control" && i + 1 < argc) {
            control_path = argv[++i];
        } else {
            usage();
            return arg == "--help" ? 0 : 2;
        }
    }
    if (!has_board_root()) {
        std::fprintf(stderr, "fpga-sim: %s must name the board root; refusing to start\n",
                     vantor::kBoardRootVariable);
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    const std::string path = vantor::board_path("/dev/mem");
    FpgaBoard board;
    std::string error;
    vantor::UniqueFd control;
    if (!board.model.open(path, error) ||
        !board.channel.open(vantor::board_path("/dev/uio1"), error) ||
        !board.bus.listen(vantor::board_path("/dev/i2c-0"), error)) {
        std::fprintf(stderr, "fpga-sim: %s\n", error.c_str());
        return 1;
    }
    if (!control_path.empty() && !listen_control(control_path, control)) {
        std::fprintf(stderr, "fpga-sim: cannot listen on %s\n", control_path.c_str());
        return 1;
    }
    std::printf("fpga-sim: ready %s\n", path.c_str());
    std::fflush(stdout);

    bool input_open = true;
    bool running = true;
    std::string input;
    std::vector<LineClient> clients;
    auto busy_since = std::chrono::steady_clock::now();
    bool busy = false;
    while (running && !g_stop) {
        // The hand-shake first: an acknowledged byte is cleared before the daemon can look again.
        bool presented = false;
        for (int i = 0; i < kHandshakeSpins && (presented = board.channel.step(board.model)); ++i) {
        }
        const auto now = std::chrono::steady_clock::now();
        if (presented && !busy) {
            busy_since = now;
        }
        busy = presented;
        const int timeout = presented && now - busy_since < kBusyPollLimit ? 0 : 1;

        std::vector<struct pollfd> fds;
        fds.push_back({input_open ? STDIN_FILENO : -1, POLLIN, 0});
        fds.push_back({board.channel.master_fd(), POLLIN, 0});
        fds.push_back({control ? control.get() : -1, POLLIN, 0});
        for (const LineClient& c : clients) {
            fds.push_back({c.fd.get(), POLLIN, 0});
        }
        const size_t bus_first = fds.size();
        board.bus.add_poll_fds(fds);
        const int ready = ::poll(fds.data(), fds.size(), timeout);
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready <= 0) {
            board.model.scan();
            continue;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            board.channel.on_master_readable();
        }
        board.bus.handle(std::vector<struct pollfd>(
                             fds.begin() + static_cast<std::ptrdiff_t>(bus_first), fds.end()),
                         board.model);
        if (fds[0].revents != 0) {
            char buffer[4096];
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n <= 0) {
                input_open = n < 0 && errno == EINTR;
            } else {
                input.append(buffer, static_cast<size_t>(n));
                running = run_lines(board, input, STDOUT_FILENO);
            }
        }
        for (size_t i = 0; i < clients.size(); ++i) {
            if (fds[3 + i].revents == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t n = ::read(clients[i].fd.get(), buffer, sizeof buffer);
            if (n <= 0) {
                clients[i].fd.reset();
                continue;
            }
            clients[i].pending.append(buffer, static_cast<size_t>(n));
            running = run_lines(board, clients[i].pending, clients[i].fd.get()) && running;
        }
        for (size_t i = 0; i < clients.size();) {
            if (!clients[i].fd) {
                clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
            } else {
                ++i;
            }
        }
        if (fds[2].revents != 0) {
            const int fd = ::accept4(control.get(), nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                clients.push_back({vantor::UniqueFd(fd), {}});
            }
        }
    }
    if (!control_path.empty()) {
        ::unlink(control_path.c_str());
    }
    return 0;
}
