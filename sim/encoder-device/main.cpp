// speedhq-sim: the virtual board's SpeedHQ encoder device. See README.md beside this file.

#include <getopt.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "EncoderModel.h"
#include "FormatRates.h"
#include "NdiTransmitter/SpeedHqProtocol.h"
#include "Server.h"

namespace {

void print_help(std::FILE* out)
{
    std::fprintf(
        out,
        "Usage: speedhq-sim [options] SOCKET\n"
        "\n"
        "Serves the SpeedHQ encoder device's requests on a Unix stream socket created at SOCKET\n"
        "(on the virtual board: $VANTOR_ROOT/dev/vantor-speedhq). The protocol is described in\n"
        "encoder-app/NdiTransmitter/speedhq-protocol.md.\n"
        "\n"
        "While started (request 0) the device completes one frame per picture period: each frame\n"
        "wait (request 10 with 1) is answered by the next completed frame, buffer indices rotate\n"
        "1 to 5 and status word 4 holds the previous index. Program pictures are real SpeedHQ at\n"
        "the mode's size (request 11: 0 = 3840x2160, 1 = 1280x720, 2 = 1920x1080, 3 = 1920x540\n"
        "fields with alternating parity from request 9), 4:2:0 (SHQ0) when request 3 was given 1,\n"
        "else 4:2:2 (SHQ2); previews are 640x360 4:2:0. The pictures are a short loop of a test\n"
        "pattern with a picture counter, encoded with libavcodec when a configuration is first\n"
        "started (2160p takes a moment) and kept for the life of the simulator.\n"
        "\n"
        "Picture rates: the device is told the mode, not the rate; its pictures come at the rate\n"
        "of the video format that the board's encoder settings name (\"VideoFormat\" in the\n"
        "--settings file, read at each start): 1080p25 at 25, 1080i50 at 50 fields, 2160p24 at\n"
        "24 pictures per second, and so on. Without a format of the started mode there: mode 0\n"
        "(2160p) 29.97, modes 1, 2 and 3 (720p, 1080p, 1080i fields) 59.94 pictures per second.\n"
        "--rate or the rate command sets one rate for every mode instead.\n"
        "\n"
        "Options:\n"
        "  --control PATH       also accept text commands on a Unix stream socket at PATH\n"
        "                       (one command per line, one reply line each)\n"
        "  --no-stdin           do not read commands from standard input\n"
        "  --log FILE           append each request received to FILE, one per line: the request\n"
        "                       number, '=argument' when it has one, or 'read:COUNT' for a read\n"
        "  --rate R             pictures per second for every mode; 0 = unpaced (each wait\n"
        "                       completes a frame at once)\n"
        "  --loop N             pictures per loop, 2 to 16, rounded up to even (default 6)\n"
        "  --settings FILE      the encoder settings file whose \"VideoFormat\" sets the rate\n"
        "                       (default: ROOT/etc/vantor-enc1-settings.json when SOCKET is\n"
        "                       ROOT/dev/vantor-speedhq, else none)\n"
        "  --wait-timeout MS    a frame wait fails with ETIMEDOUT after MS milliseconds without\n"
        "                       a frame, e.g. while stopped or stalled (default 1000, at most\n"
        "                       %d: below the client's %d ms reply time-out)\n"
        "  --help               this text\n"
        "\n"
        "Commands (standard input or the control socket; replies 'ok ...' or 'error ...'):\n"
        "%s"
        "\n"
        "SIGINT or SIGTERM ends the simulator; it removes its sockets.\n",
        speedhq_protocol::kMaxWaitTimeoutMs, speedhq_protocol::kReplyTimeoutMs,
        EncoderModel::command_help());
}

bool parse_number(const char* text, double min, double max, double& value)
{
    char* end = nullptr;
    const double parsed = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(parsed >= min && parsed <= max)) {
        return false;
    }
    value = parsed;
    return true;
}

void on_signal(int /*signal*/)
{
    g_speedhq_sim_stop = 1;
}

}  // namespace

int main(int argc, char** argv)
{
    enum { kControl = 1, kNoStdin, kLog, kRate, kLoop, kSettings, kWaitTimeout, kHelp };
    const option options[] = {{"control", required_argument, nullptr, kControl},
                              {"no-stdin", no_argument, nullptr, kNoStdin},
                              {"log", required_argument, nullptr, kLog},
                              {"rate", required_argument, nullptr, kRate},
                              {"loop", required_argument, nullptr, kLoop},
                              {"settings", required_argument, nullptr, kSettings},
                              {"wait-timeout", required_argument, nullptr, kWaitTimeout},
                              {"help", no_argument, nullptr, kHelp},
                              {nullptr, 0, nullptr, 0}};
    EncoderModel::Options model_options;
    Server::Options server_options;
    std::string log_path;
    bool settings_given = false;
    for (int option = 0; (option = getopt_long(argc, argv, "", options, nullptr)) != -1;) {
        double value = 0.0;
        switch (option) {
        case kControl:
            server_options.control_path = optarg;
            break;
        case kNoStdin:
            server_options.read_stdin = false;
            break;
        case kLog:
            log_path = optarg;
            break;
        case kRate:
            if (!parse_number(optarg, 0.0, 100000.0, value)) {
                std::fprintf(stderr, "speedhq-sim: --rate takes 0 to 100000\n");
                return 2;
            }
            model_options.rate = value;
            break;
        case kLoop:
            if (!parse_number(optarg, 2, 16, value) || value != static_cast<int>(value)) {
                std::fprintf(stderr, "speedhq-sim: --loop takes a whole number from 2 to 16\n");
                return 2;
            }
            model_options.loop_length = (static_cast<int>(value) + 1) / 2 * 2;
            break;
        case kSettings:
            model_options.settings_path = optarg;
            settings_given = true;
            break;
        case kWaitTimeout:
            // A failed wait must reach the client before its reply time-out, or the client drops
            // the connection and the stream never comes back after a stall.
            if (!parse_number(optarg, 1, speedhq_protocol::kMaxWaitTimeoutMs, value)) {
                std::fprintf(stderr,
                             "speedhq-sim: --wait-timeout takes 1 to %d ms (below the client's "
                             "%d ms reply time-out)\n",
                             speedhq_protocol::kMaxWaitTimeoutMs,
                             speedhq_protocol::kReplyTimeoutMs);
                return 2;
            }
            model_options.wait_timeout = std::chrono::milliseconds(static_cast<int>(value));
            break;
        case kHelp:
            print_help(stdout);
            return 0;
        default:
            print_help(stderr);
            return 2;
        }
    }
    if (optind + 1 != argc) {
        std::fprintf(stderr, "speedhq-sim: give exactly one socket path (see --help)\n");
        return 2;
    }
    server_options.socket_path = argv[optind];
    if (!settings_given) {
        model_options.settings_path = settings_path_for_socket(server_options.socket_path);
    }

    std::FILE* log = nullptr;
    if (!log_path.empty()) {
        log = std::fopen(log_path.c_str(), "ae");
        if (log == nullptr) {
            std::fprintf(stderr, "speedhq-sim: %s: %s\n", log_path.c_str(), std::strerror(errno));
            return 1;
        }
        model_options.log = log;
    }

    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    int status = 0;
    {
        EncoderModel model(model_options);
        Server server(model, server_options);
        std::string error;
        if (!server.start(error)) {
            std::fprintf(stderr, "speedhq-sim: %s\n", error.c_str());
            status = 1;
        } else {
            std::printf("speedhq-sim: serving %s\n", server_options.socket_path.c_str());
            std::fflush(stdout);
            status = server.run();
        }
    }
    if (log != nullptr) {
        std::fclose(log);
    }
    return status;
}
