#include "options.h"

#include <arpa/inet.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string_view>

namespace visca_ip {

namespace {

constexpr uint16_t kDefaultPort = 52381;
constexpr int kMessageMax = 16;
constexpr int kPresetMax = 127;
constexpr int kRepeatMax = 1000000;
constexpr int kTimeoutMax = 600000;
constexpr int kSequenceMax = 1000000000;

struct NamedRequest {
    const char* name;
    std::vector<uint8_t> message;
    Named named;
};

const NamedRequest kNamed[] = {
    {"home", {0x81, 0x01, 0x06, 0x04, 0xFF}, Named::None},
    {"zoom-tele", {0x81, 0x01, 0x04, 0x07, 0x02, 0xFF}, Named::None},
    {"zoom-stop", {0x81, 0x01, 0x04, 0x07, 0x00, 0xFF}, Named::None},
    {"pt-pos?", {0x81, 0x09, 0x06, 0x12, 0xFF}, Named::PanTiltPosition},
    {"zoom-pos?", {0x81, 0x09, 0x04, 0x47, 0xFF}, Named::ZoomPosition},
    {"block?", {0x81, 0x09, 0x7E, 0x7E, 0xEE, 0xFF}, Named::Block},
};

bool parse_int(const char* text, int low, int high, int& value)
{
    errno = 0;
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || parsed < low || parsed > high) {
        return false;
    }
    value = static_cast<int>(parsed);
    return true;
}

bool parse_address(const std::string& text, sockaddr_in& address)
{
    address = {};
    address.sin_family = AF_INET;
    std::string host = text;
    int port = kDefaultPort;
    const std::string::size_type colon = text.find(':');
    if (colon != std::string::npos) {
        host = text.substr(0, colon);
        if (!parse_int(text.c_str() + colon + 1, 1, UINT16_MAX, port)) {
            return false;
        }
    }
    address.sin_port = htons(static_cast<uint16_t>(port));
    return ::inet_pton(AF_INET, host.c_str(), &address.sin_addr) == 1;
}

// Hex bytes, in one or more words ("81 01 04 07 00 FF", "8101040700FF").
bool parse_hex(const std::vector<std::string>& words, std::vector<uint8_t>& bytes)
{
    std::string digits;
    for (const std::string& word : words) {
        for (const char c : word) {
            if (std::isxdigit(static_cast<unsigned char>(c)) == 0) {
                return false;
            }
        }
        if (word.size() % 2 != 0) {
            return false;
        }
        digits += word;
    }
    for (std::size_t at = 0; at < digits.size(); at += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(at, 2), nullptr, 16)));
    }
    return !bytes.empty();
}

bool parse_request(const std::vector<std::string>& words, Options& options, std::string& error)
{
    for (const NamedRequest& named : kNamed) {
        if (words.size() == 1 && words[0] == named.name) {
            options.message = named.message;
            options.named = named.named;
            return true;
        }
    }
    if (words[0] == "preset-recall") {
        int preset = 0;
        if (words.size() != 2 || !parse_int(words[1].c_str(), 0, kPresetMax, preset)) {
            error = "preset-recall takes one preset number, 0 to 127";
            return false;
        }
        options.message = {0x81, 0x01, 0x04, 0x3F, 0x02, static_cast<uint8_t>(preset), 0xFF};
        return true;
    }
    if (!parse_hex(words, options.message)) {
        error = "not a named request nor hex bytes: '" + words[0] + "'";
        return false;
    }
    if (options.message.size() < 3 || options.message.size() > kMessageMax ||
        options.message.back() != 0xFF || (options.message[0] & 0xF0U) != 0x80U) {
        error = "a VISCA message is 3 to 16 bytes, 8x ... FF";
        return false;
    }
    return true;
}

}  // namespace

bool parse_options(int argc, char** argv, Options& options, std::string& error)
{
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            return true;
        }
        if (arg == "--device-setting") {
            options.device_setting = true;
        } else if (arg == "--no-reset") {
            options.reset = false;
        } else if (arg == "--repeat" || arg == "--timeout") {
            int& target = arg == "--repeat" ? options.repeat : options.timeout_ms;
            const int high = arg == "--repeat" ? kRepeatMax : kTimeoutMax;
            if (!has_value || !parse_int(argv[++i], 1, high, target)) {
                error = std::string(arg) + " takes a number from 1 to " + std::to_string(high);
                return false;
            }
        } else if (arg == "--sequence") {
            int first = 0;
            if (!has_value || !parse_int(argv[++i], 0, kSequenceMax, first)) {
                error = "--sequence takes a number from 0 to " + std::to_string(kSequenceMax);
                return false;
            }
            options.first_sequence = static_cast<uint32_t>(first);
        } else if (arg.size() > 1 && arg[0] == '-' && arg.substr(0, 2) == "--") {
            error = "unknown option " + std::string(arg);
            return false;
        } else {
            positional.emplace_back(arg);
        }
    }
    if (positional.size() < 2) {
        error = "an address and a request are needed";
        return false;
    }
    if (!parse_address(positional[0], options.camera)) {
        error = "not an IPv4 address[:port]: '" + positional[0] + "'";
        return false;
    }
    positional.erase(positional.begin());
    return parse_request(positional, options, error);
}

const char* usage_text()
{
    return R"(Usage: visca-ip [options] ADDRESS[:PORT] REQUEST

Sends one VISCA command or inquiry over VISCA over IP (UDP, port 52381 unless given) and prints
every reply: arrival time since the request was sent, sequence number, type and meaning (ack,
completion, error with its name, inquiry reply, decoded for the named inquiries). Before the
first request the control reset is sent (sequence numbers start again at 0), then the requests
with sequence numbers 1, 2, ... (or from --sequence N). A reply with another sequence number is
printed but counted as foreign.

REQUEST is hex bytes (81 01 04 07 02 FF, or 8101040702FF), or one of:
  home               81 01 06 04 FF
  zoom-tele          81 01 04 07 02 FF
  zoom-stop          81 01 04 07 00 FF
  preset-recall N    81 01 04 3F 02 NN FF, N 0..127
  pt-pos?            pan/tilt position inquiry
  zoom-pos?          zoom position inquiry
  block?             the camera's block inquiry 81 09 7E 7E EE FF (103-byte reply)

Options:
  --repeat N         send the request N times, one after another, and report the latency until
                     its last reply (completion or inquiry reply): median, 99th percentile, lost
  --timeout MS       how long a request waits for its last reply (default 1000)
  --sequence N       sequence number of the first request (default 1)
  --device-setting   send as a device-setting message (payload type 0x0120), as controllers send
                     IF_Clear (81 01 00 01 FF) and the version inquiry (81 09 00 02 FF)
  --no-reset         do not send the control reset first
  --help             this text

Commands go with payload type 0x0100, inquiries (8x 09 ...) with 0x0110. Exit status: 0 when
every request got its last reply, 1 for a bad command line, 2 when a request got none (or an
error), 3 when the socket cannot be used.
)";
}

}  // namespace visca_ip
