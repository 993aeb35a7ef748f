// ndi-send-bench: sends pictures of a 2160-line compressed size to receivers on loopback at a fixed
// rate and reports the sender's CPU time per picture and the send-to-receive latency.
//
// The receivers run in a child process, so the parent's CPU time (the caller and the sender's I/O
// thread) is the sender's alone. The latency is measured from the moment the sender stamps the
// picture (inside the send call) to the moment the receiving application has it from its capture
// call; both processes read the same system clock.
//
// With --preview 1 every program picture is followed at once by a preview picture (640x360,
// 1/16 of the size), as the camera sends both streams; the receivers then take both. With --slow 1
// one more connection reads its socket at about 4 MB/s only, so the sender keeps dropping and
// copying for it; the copies of borrowed pictures are counted.
//
//   ndi-send-bench [--seconds N] [--size BYTES] [--rate FPS] [--receivers N] [--preview 0|1]
//                  [--slow 0|1]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Processing.NDI.Lib.h"
#include "vantor_ndi_test_hook.h"

namespace {

struct Settings {
    int seconds = 10;
    int size = 1024 * 1024;
    int rate = 60;
    int receivers = 2;
    bool preview = false;
    bool slow = false;
};

// A connection that reads 16 KiB every 4 ms from a 16 KiB socket buffer: far slower than the
// pictures come. Asks for both video streams; ends when the sender closes or `socket_fd` is shut
// down.
void run_slow_connection(const std::string& name, std::atomic<int>& socket_fd)
{
    NDIlib_find_instance_t finder = NDIlib_find_create_v2(nullptr);
    std::string address;
    for (int round = 0; round < 300 && address.empty(); ++round) {
        NDIlib_find_wait_for_sources(finder, 100);
        std::uint32_t count = 0;
        const NDIlib_source_t* sources = NDIlib_find_get_current_sources(finder, &count);
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::string full = sources[i].p_ndi_name;
            if (full.size() > name.size() + 3 &&
                full.compare(full.size() - name.size() - 1, name.size(), name) == 0) {
                address = sources[i].p_url_address;
            }
        }
    }
    NDIlib_find_destroy(finder);
    const std::size_t colon = address.rfind(':');
    if (colon == std::string::npos) {
        return;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    socket_fd.store(fd);
    const int buffer = 16384;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(std::atoi(address.c_str() + colon + 1)));
    ::inet_pton(AF_INET, address.substr(0, colon).c_str(), &addr.sin_addr);
    // Hello: magic, type 1, flags, length 8; streams 3 (both videos); name "slow".
    const std::uint8_t hello[] = {'V', 'N', 1, 0, 8, 0, 0, 0, 3, 0, 0, 0, 's', 'l', 'o', 'w'};
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0 &&
        ::send(fd, hello, sizeof hello, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof hello)) {
        std::vector<std::uint8_t> sink(16384);
        while (::recv(fd, sink.data(), sink.size(), 0) > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(4));
        }
    }
    socket_fd.store(-1);
    ::close(fd);
}

std::int64_t now_100ns()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100;
}

double cpu_seconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The receiving side: each receiver captures on its own thread until `expected` pictures have been
// accounted for (received or lost) or the sender goes away. Writes one result line per receiver.
int run_receivers(const Settings& settings, const std::string& source, int result_fd)
{
    const int expected = settings.seconds * settings.rate * (settings.preview ? 2 : 1);
    std::thread slow;
    std::atomic<int> slow_fd{-1};
    if (settings.slow) {
        slow = std::thread([&source, &slow_fd] { run_slow_connection(source, slow_fd); });
    }
    std::vector<std::thread> threads;
    threads.reserve(static_cast<std::size_t>(settings.receivers));
    std::mutex output_mutex;
    for (int r = 0; r < settings.receivers; ++r) {
        threads.emplace_back([&, r] {
            const NDIlib_recv_create_v3_t create(NDIlib_source_t(source.c_str()),
                                                 settings.preview ? NDIlib_recv_bandwidth_all_video
                                                                  : NDIlib_recv_bandwidth_highest,
                                                 "bench");
            NDIlib_recv_instance_t receiver = NDIlib_recv_create_v3(&create);
            std::vector<double> latencies_ms;
            latencies_ms.reserve(static_cast<std::size_t>(expected));
            int idle_rounds = 0;
            NDIlib_recv_performance_t total;
            NDIlib_recv_performance_t dropped;
            for (;;) {
                NDIlib_video_frame_v2_t frame;
                if (NDIlib_recv_capture_v2(receiver, &frame, nullptr, nullptr, 100) ==
                    NDIlib_frame_type_video) {
                    latencies_ms.push_back(static_cast<double>(now_100ns() - frame.timestamp) /
                                           1e4);
                    NDIlib_recv_free_video_v2(receiver, &frame);
                    idle_rounds = 0;
                } else if (++idle_rounds > 100) {
                    break;  // ten seconds without a picture: the sender is done or gone
                }
                NDIlib_recv_get_performance(receiver, &total, &dropped);
                if (static_cast<int>(latencies_ms.size() + dropped.video_frames) >= expected) {
                    break;
                }
            }
            NDIlib_recv_destroy(receiver);
            std::sort(latencies_ms.begin(), latencies_ms.end());
            const auto at = [&](double share) {
                if (latencies_ms.empty()) {
                    return 0.0;
                }
                const auto index =
                    static_cast<std::size_t>(share * static_cast<double>(latencies_ms.size() - 1));
                return latencies_ms[index];
            };
            char line[256];
            std::snprintf(line, sizeof line,
                          "receiver %d: %zu pictures, %lld lost, latency median %.2f ms, "
                          "99th percentile %.2f ms, max %.2f ms\n",
                          r + 1, latencies_ms.size(), static_cast<long long>(dropped.video_frames),
                          at(0.5), at(0.99), latencies_ms.empty() ? 0.0 : latencies_ms.back());
            const std::lock_guard<std::mutex> lock(output_mutex);
            [[maybe_unused]] const ssize_t written = ::write(result_fd, line, std::strlen(line));
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    if (slow.joinable()) {
        // The measured receivers are done: the slow connection ends too (the sender closes only
        // after this process has ended).
        const int fd = slow_fd.load();
        if (fd >= 0) {
            ::shutdown(fd, SHUT_RDWR);
        }
        slow.join();
    }
    return 0;
}

int run_sender(const Settings& settings, const std::string& name, int result_fd, pid_t child)
{
    const NDIlib_send_create_t create(name.c_str(), nullptr, false, false);
    NDIlib_send_instance_t sender = NDIlib_send_create_v2(&create, nullptr);
    if (sender == nullptr) {
        return 1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    const int connections = settings.receivers + (settings.slow ? 1 : 0);
    while (NDIlib_send_get_no_connections(sender, 100) < connections) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "ndi-send-bench: the receivers did not connect\n");
            NDIlib_send_destroy(sender);
            return 1;
        }
    }
    // Two pictures in turn, as an encoder's frame buffers are; contents do not matter.
    std::vector<std::uint8_t> pictures[2] = {
        std::vector<std::uint8_t>(static_cast<std::size_t>(settings.size), 0x11),
        std::vector<std::uint8_t>(static_cast<std::size_t>(settings.size), 0x22)};
    const int preview_size = std::max(1, settings.size / 16);
    std::vector<std::uint8_t> previews[2] = {
        std::vector<std::uint8_t>(static_cast<std::size_t>(preview_size), 0x33),
        std::vector<std::uint8_t>(static_cast<std::size_t>(preview_size), 0x44)};
    const int count = settings.seconds * settings.rate;
    const auto period = std::chrono::nanoseconds(1000000000LL / settings.rate);
    const double cpu_before = cpu_seconds();
    auto next = std::chrono::steady_clock::now();
    for (int n = 0; n < count; ++n) {
        NDIlib_video_frame_v2_t frame(
            3840, 2160,
            static_cast<NDIlib_FourCC_video_type_e>(NDIlib_FourCC_type_SHQ2_highest_bandwidth),
            settings.rate, 1);
        frame.p_data = pictures[n % 2].data();
        frame.data_size_in_bytes = settings.size;
        NDIlib_send_send_video_async_v2(sender, &frame);
        if (settings.preview) {
            NDIlib_video_frame_v2_t small(
                640, 360,
                static_cast<NDIlib_FourCC_video_type_e>(NDIlib_FourCC_type_SHQ0_lowest_bandwidth),
                settings.rate, 1);
            small.p_data = previews[n % 2].data();
            small.data_size_in_bytes = preview_size;
            NDIlib_send_send_video_async_v2(sender, &small);
        }
        next += period;
        std::this_thread::sleep_until(next);
    }
    NDIlib_send_send_video_async_v2(sender, nullptr);
    const double cpu_used = cpu_seconds() - cpu_before;
    const auto copies = static_cast<long long>(vantor_ndi_send_get_copies(sender));

    std::string results;
    char buffer[1024];
    ssize_t got = 0;
    while ((got = ::read(result_fd, buffer, sizeof buffer)) > 0) {
        results.append(buffer, static_cast<std::size_t>(got));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    NDIlib_send_destroy(sender);

    std::printf("%d pictures of %d bytes%s at %d per second to %d receivers%s on loopback\n", count,
                settings.size, settings.preview ? " (each with a preview picture)" : "",
                settings.rate, settings.receivers, settings.slow ? " and a slow connection" : "");
    std::printf("sender CPU time: %.3f ms per program picture (%.1f %% of one core)\n",
                cpu_used * 1000.0 / count, cpu_used * 100.0 / settings.seconds);
    std::printf("copies of borrowed pictures: %lld of %d sent\n", copies,
                count * (settings.preview ? 2 : 1));
    std::printf("%s", results.c_str());
    return 0;
}

bool parse(int argc, char** argv, Settings& settings)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (value < 0 || (value == 0 && option != "--preview" && option != "--slow")) {
            return false;
        }
        if (option == "--seconds") {
            settings.seconds = value;
        } else if (option == "--size") {
            settings.size = value;
        } else if (option == "--rate") {
            settings.rate = value;
        } else if (option == "--receivers") {
            settings.receivers = value;
        } else if (option == "--preview" || option == "--slow") {
            (option == "--preview" ? settings.preview : settings.slow) = value != 0;
        } else {
            return false;
        }
    }
    return argc % 2 == 1;
}

}  // namespace

int main(int argc, char** argv)
{
    // The benchmark's senders listen on the loopback interface only.
    ::setenv("VANTOR_NDI_ADDRESS", "127.0.0.1", 1);
    Settings settings;
    if (!parse(argc, argv, settings)) {
        std::fprintf(stderr, "usage: ndi-send-bench [--seconds N] [--size BYTES] [--rate FPS] "
                             "[--receivers N] [--preview 0|1] [--slow 0|1]\n");
        return 1;
    }
    NDIlib_initialize();
    const std::string name = "ndi-send-bench " + std::to_string(::getpid());
    int fds[2];
    if (::pipe(fds) != 0) {
        return 1;
    }
    // Fork before any thread exists; the receivers find the sender by name.
    const pid_t child = ::fork();
    if (child < 0) {
        return 1;
    }
    if (child == 0) {
        ::close(fds[0]);
        const int status = run_receivers(settings, name, fds[1]);
        ::close(fds[1]);
        std::_Exit(status);
    }
    ::close(fds[1]);
    const int status = run_sender(settings, name, fds[0], child);
    ::close(fds[0]);
    NDIlib_destroy();
    return status;
}
