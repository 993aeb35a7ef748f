// camera-sim: the camera module of the virtual board on a pseudo-terminal (see README.md).
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <string>

#include "simulator.h"
#include "vantor/file_io.h"
#include "vantor/unique_fd.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void on_signal(int /*signal*/)
{
    g_stop = 1;
}

void usage(FILE* to)
{
    std::fprintf(
        to,
        "Usage: camera-sim --link PATH [options]\n"
        "Stands in for the camera module on its 9600-baud VISCA line: creates a\n"
        "pseudo-terminal, links its slave at PATH (for example $VANTOR_ROOT/dev/ttyPS1)\n"
        "and answers as a camera module at address 1, pacing every byte in both\n"
        "directions as 9600 baud 8N1 does (about 1.04 ms a byte).\n"
        "\n"
        "Options:\n"
        "  --link PATH              where to link the line (required)\n"
        "  --control PATH           also take control commands on a Unix socket there\n"
        "  --format-delay MS        a video-format change takes effect after MS ms\n"
        "                           (default 1000)\n"
        "  --completion-delay MS    completion MS ms after the acknowledgement (default 0)\n"
        "  --processing-delay MS    every reply is ready MS ms after what causes it\n"
        "                           (default 2)\n"
        "  --lenient                replies reach the firmware one byte at a time, each when\n"
        "                           its last bit has left the line (by default they come in\n"
        "                           the bursts of a UART receive FIFO: 8 bytes, or what has\n"
        "                           come when the line has been idle for 4 byte times)\n"
        "  --strict                 the receive-FIFO bursts (the default)\n"
        "  --model-code N           model code of the version reply (default 0x0711)\n"
        "  --transcript             print every packet with its time from the start\n"
        "  --help                   this text\n"
        "\n"
        "Answers: a command it knows takes socket 1, or 2 when 1 is busy, and gets\n"
        "90 4y FF, then 90 5y FF when it is done (a move when its axes arrive or a later\n"
        "command takes them over); with both sockets busy 90 60 03 FF (buffer full).\n"
        "Cancel 8x 2y FF: 90 6y 04 FF, or 90 6y 05 FF for an idle socket. IF_Clear\n"
        "81 01 00 01 FF: 90 50 FF (88 01 00 01 FF is passed on); both drop every pending\n"
        "completion. Bad parameters and unknown packets: 90 60 02 FF. In standby (Power\n"
        "03) commands other than power on get 90 6y 41 FF. Inquiries their 90 50 ... FF\n"
        "reply: video format 04 24 72, block inquiries 7E 7E 10..16 (16 bytes), version\n"
        "00 02, menu 04 15, pan/tilt 06 12, zoom 04 47, focus 04 48, tally 7E 01 0A and\n"
        "every register setting (8x 09 <command> FF). A value a command sets is what\n"
        "inquiries report. Packets that arrive while the line is not set 9600 8N1 raw\n"
        "are not answered.\n"
        "\n"
        "%s"
        "Standard input takes the same commands; end of input is not the end of the\n"
        "simulator. SIGINT or SIGTERM ends it and removes the link and the socket.\n",
        camsim::Simulator::help_text());
}

struct Client {
    vantor::UniqueFd fd;
    std::string pending;
};

// Runs every complete line of `pending` and answers on `reply_fd`.
bool serve_lines(camsim::Simulator& sim, std::string& pending, int reply_fd)
{
    bool quit = false;
    for (size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
        const std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        const std::string answer = sim.control(line, camsim::Clock::now(), quit);
        vantor::write_all(reply_fd, answer);
    }
    return quit;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string link;
    std::string control_path;
    camsim::Simulator sim(camsim::Clock::now());
    // A module's UART hands bytes over in receive-FIFO bursts, as the firmware meets them.
    sim.set_strict(true);
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        }
        if (arg == "--transcript") {
            sim.set_transcript(true);
        } else if (arg == "--link" && has_value) {
            link = argv[++i];
        } else if (arg == "--control" && has_value) {
            control_path = argv[++i];
        } else if (arg == "--strict") {
            sim.set_strict(true);
        } else if (arg == "--lenient") {
            sim.set_strict(false);
        } else if (arg.rfind("--", 0) == 0 && camsim::is_delay_name(arg.substr(2)) && has_value) {
            if (!camsim::set_delay(sim.model(), arg.substr(2), argv[++i])) {
                std::fprintf(stderr, "camera-sim: bad value for %s\n", arg.c_str());
                return 2;
            }
        } else if (arg == "--model-code" && has_value) {
            char* end = nullptr;
            const long value = std::strtol(argv[++i], &end, 0);
            if (*end != '\0' || value < 0 || value > 0xFFFF) {
                std::fprintf(stderr, "camera-sim: bad value for %s\n", arg.c_str());
                return 2;
            }
            sim.model().set_model_code(static_cast<uint16_t>(value));
        } else {
            std::fprintf(stderr, "camera-sim: unknown option %s\n\n", arg.c_str());
            usage(stderr);
            return 2;
        }
    }
    if (link.empty()) {
        usage(stderr);
        return 2;
    }

    std::string error;
    if (!sim.open(link, error)) {
        std::fprintf(stderr, "camera-sim: %s\n", error.c_str());
        return 1;
    }

    vantor::UniqueFd listener;
    if (!control_path.empty()) {
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        if (control_path.size() >= sizeof address.sun_path) {
            std::fprintf(stderr, "camera-sim: control socket path too long\n");
            return 1;
        }
        std::memcpy(address.sun_path, control_path.c_str(), control_path.size());
        ::unlink(control_path.c_str());
        listener.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!listener ||
            ::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener.get(), 4) != 0) {
            std::fprintf(stderr, "camera-sim: cannot listen on %s: %s\n", control_path.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }

    struct sigaction action = {};
    action.sa_handler = on_signal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t blocked;
    sigset_t during_poll;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    sigprocmask(SIG_BLOCK, &blocked, &during_poll);
    sigdelset(&during_poll, SIGINT);
    sigdelset(&during_poll, SIGTERM);

    std::printf("camera-sim ready: %s -> %s\n", link.c_str(), sim.slave_name().c_str());
    std::fflush(stdout);

    bool stdin_open = true;
    std::string stdin_pending;
    std::list<Client> clients;
    bool quit = false;
    while (g_stop == 0 && !quit) {
        sim.tick(camsim::Clock::now());
        std::vector<pollfd> fds;
        fds.push_back({sim.master_fd(), POLLIN, 0});
        fds.push_back({stdin_open ? STDIN_FILENO : -1, POLLIN, 0});
        fds.push_back({listener.get(), POLLIN, 0});
        for (const Client& c : clients) {
            fds.push_back({c.fd.get(), POLLIN, 0});
        }
        timespec timeout = {};
        timespec* timeout_ptr = nullptr;
        if (const auto deadline = sim.next_deadline()) {
            const auto wait =
                std::max(camsim::Clock::duration::zero(), *deadline - camsim::Clock::now());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
            timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
            timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
            timeout_ptr = &timeout;
        }
        if (::ppoll(fds.data(), fds.size(), timeout_ptr, &during_poll) < 0) {
            continue;  // a signal; the loop condition sees it
        }
        const auto now = camsim::Clock::now();
        if ((fds[0].revents & POLLIN) != 0) {
            sim.on_readable(now);
        }
        if (fds[1].revents != 0) {
            char buffer[512];
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n <= 0) {
                stdin_open = false;
            } else {
                stdin_pending.append(buffer, static_cast<size_t>(n));
                quit = serve_lines(sim, stdin_pending, STDOUT_FILENO) || quit;
            }
        }
        // Only the clients that were polled: fds[3...] follow the list's order.
        size_t index = 3;
        for (auto it = clients.begin(); it != clients.end() && index < fds.size(); ++index) {
            if (fds[index].revents == 0) {
                ++it;
                continue;
            }
            char buffer[512];
            const ssize_t n = ::read(it->fd.get(), buffer, sizeof buffer);
            if (n <= 0) {
                it = clients.erase(it);
                continue;
            }
            it->pending.append(buffer, static_cast<size_t>(n));
            quit = serve_lines(sim, it->pending, it->fd.get()) || quit;
            ++it;
        }
        if ((fds[2].revents & POLLIN) != 0) {
            vantor::UniqueFd accepted(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (accepted) {
                clients.push_back(Client{std::move(accepted), {}});
            }
        }
    }
    if (!control_path.empty()) {
        ::unlink(control_path.c_str());
    }
    return 0;
}
