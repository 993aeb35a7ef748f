// visca-ip: a VISCA-over-IP client. Sends one request (or --repeat N of them) to a camera and
// prints every reply with its arrival time, or the latency figures.
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "camcontrol/voip_framing.h"
#include "options.h"
#include "replies.h"
#include "vantor/unique_fd.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint8_t kControlReset = 0x01;
constexpr uint8_t kInquiry = 0x09;
constexpr int kPercentile = 99;

double elapsed_ms(Clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

struct Outcome {
    bool answered = false;  // the last reply of the request arrived
    bool error = false;
    double latency_ms = 0;
    int foreign = 0;  // replies that carried another sequence number
};

// Sends one datagram and collects the replies to `sequence_number` until its last reply or the
// time-out; prints them when `print` is set.
Outcome exchange(int fd, const visca_ip::Options& options, uint16_t payload_type,
                 uint32_t sequence_number, const std::vector<uint8_t>& message, bool print)
{
    Outcome outcome;
    uint8_t datagram[VOIP_HEADER_LENGTH + VOIP_MESSAGE_MAX];
    const int length = voip_build(payload_type, sequence_number, message.data(),
                                  static_cast<int>(message.size()), datagram, sizeof(datagram));
    const Clock::time_point sent = Clock::now();
    if (::sendto(fd, datagram, static_cast<std::size_t>(length), 0,
                 reinterpret_cast<const sockaddr*>(&options.camera),
                 sizeof(options.camera)) != length) {
        std::fprintf(stderr, "visca-ip: send failed: %s\n", std::strerror(errno));
        return outcome;
    }
    const Clock::time_point end = sent + std::chrono::milliseconds(options.timeout_ms);
    uint8_t received[VOIP_DATAGRAM_MAX];
    while (Clock::now() < end) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        pollfd waiting{fd, POLLIN, 0};
        if (::poll(&waiting, 1, static_cast<int>(left.count()) + 1) <= 0) {
            continue;
        }
        sockaddr_in from{};
        socklen_t from_length = sizeof(from);
        const ssize_t got = ::recvfrom(fd, received, sizeof(received), 0,
                                       reinterpret_cast<sockaddr*>(&from), &from_length);
        // Only the camera's replies: a datagram from any other address or port is not one.
        const bool from_camera = from.sin_family == AF_INET &&
                                 from.sin_addr.s_addr == options.camera.sin_addr.s_addr &&
                                 from.sin_port == options.camera.sin_port;
        visca_ip::Reply reply;
        if (got <= 0 || !from_camera ||
            !visca_ip::describe_reply(received, static_cast<int>(got), options.named, reply)) {
            continue;
        }
        const double at = elapsed_ms(sent);
        if (print) {
            std::printf("%9.3f ms  seq %u  %s\n", at, reply.sequence_number, reply.text.c_str());
            std::fflush(stdout);
        }
        if (reply.sequence_number != sequence_number) {
            ++outcome.foreign;
            continue;
        }
        if (reply.last()) {
            outcome.answered = reply.kind != visca_ip::ReplyKind::Error;
            outcome.error = !outcome.answered;
            outcome.latency_ms = at;
            break;
        }
    }
    return outcome;
}

double percentile(std::vector<double> values, int percent)
{
    std::sort(values.begin(), values.end());
    const auto rank = (values.size() * static_cast<std::size_t>(percent) + 99U) / 100U;
    return values[std::max<std::size_t>(rank, 1U) - 1U];
}

}  // namespace

int main(int argc, char** argv)
{
    visca_ip::Options options;
    std::string error;
    if (!visca_ip::parse_options(argc, argv, options, error)) {
        std::fprintf(stderr, "visca-ip: %s (see --help)\n", error.c_str());
        return 1;
    }
    if (options.help) {
        std::fputs(visca_ip::usage_text(), stdout);
        return 0;
    }
    const vantor::UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd) {
        std::fprintf(stderr, "visca-ip: no UDP socket: %s\n", std::strerror(errno));
        return 3;
    }
    const bool verbose = options.repeat == 0;
    if (options.reset) {
        const Outcome reset =
            exchange(fd.get(), options, VOIP_CONTROL_COMMAND, 0, {kControlReset}, verbose);
        if (!reset.answered && verbose) {
            std::puts("no control reply to the reset");
        }
    }
    uint16_t type = options.message[1] == kInquiry ? VOIP_VISCA_INQUIRY : VOIP_VISCA_COMMAND;
    if (options.device_setting) {
        type = VOIP_DEVICE_SETTING;
    }
    const int count = std::max(options.repeat, 1);
    std::vector<double> latencies;
    int lost = 0;
    int errors = 0;
    int foreign = 0;
    for (int i = 0; i < count; ++i) {
        const Outcome outcome =
            exchange(fd.get(), options, type, options.first_sequence + static_cast<uint32_t>(i),
                     options.message, verbose);
        foreign += outcome.foreign;
        if (outcome.answered) {
            latencies.push_back(outcome.latency_ms);
        } else if (outcome.error) {
            ++errors;
        } else {
            ++lost;
        }
    }
    if (verbose) {
        if (lost > 0) {
            std::printf("no last reply within %d ms\n", options.timeout_ms);
        }
    } else {
        std::printf("%d requests: %zu answered, %d lost, %d errors, %d foreign replies", count,
                    latencies.size(), lost, errors, foreign);
        if (!latencies.empty()) {
            std::printf(", median %.3f ms, p99 %.3f ms", percentile(latencies, 50),
                        percentile(latencies, kPercentile));
        }
        std::printf("\n");
    }
    return lost == 0 && errors == 0 ? 0 : 2;
}
