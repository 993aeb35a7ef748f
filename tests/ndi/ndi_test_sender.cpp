// ndi-test-sender: senders for the tests that run in network namespaces, where the test itself
// cannot create them. Usage: ndi-test-sender [--failover ADDRESS] NAME[/GROUPS]...
// Prints "sender NAME ADDRESS" for each once created and "ready" after them all, then a small
// program picture on each every 40 ms, and "tally NAME program=P connections=N" whenever that
// changes, until SIGTERM or SIGINT; then destroys the senders (withdrawing their announcements) and
// exits 0.

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "Processing.NDI.Lib.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void on_signal(int /*signo*/)
{
    g_stop = 1;
}

struct Source {
    std::string name;
    std::string groups;
    NDIlib_send_instance_t sender = nullptr;
    bool on_program = false;
    int connections = 0;
};

}  // namespace

int main(int argc, char** argv)
{
    std::signal(SIGTERM, on_signal);
    std::signal(SIGINT, on_signal);
    std::string failover;
    std::vector<Source> sources;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--failover" && i + 1 < argc) {
            failover = argv[++i];
            continue;
        }
        const std::size_t slash = arg.find('/');
        sources.push_back(
            {arg.substr(0, slash), slash == std::string::npos ? "" : arg.substr(slash + 1)});
    }
    if (sources.empty() || !NDIlib_initialize()) {
        std::fprintf(stderr, "usage: ndi-test-sender [--failover ADDRESS] NAME[/GROUPS]...\n");
        return 1;
    }
    for (Source& source : sources) {
        const NDIlib_send_create_t settings(source.name.c_str(),
                                            source.groups.empty() ? nullptr : source.groups.c_str(),
                                            false, false);
        source.sender = NDIlib_send_create_v2(&settings, nullptr);
        if (source.sender == nullptr) {
            return 1;
        }
        std::printf("sender %s %s\n", source.name.c_str(),
                    NDIlib_send_get_source_name(source.sender)->p_url_address);
    }
    if (!failover.empty()) {
        const NDIlib_source_t target(nullptr, failover.c_str());
        NDIlib_send_set_failover(sources.front().sender, &target);
    }
    std::printf("ready\n");
    std::fflush(stdout);
    std::vector<std::uint8_t> picture(4096, 0x5a);
    NDIlib_video_frame_v2_t frame;
    frame.xres = 640;
    frame.yres = 360;
    frame.FourCC =
        static_cast<NDIlib_FourCC_video_type_e>(NDIlib_FourCC_type_SHQ2_highest_bandwidth);
    frame.p_data = picture.data();
    frame.data_size_in_bytes = static_cast<int>(picture.size());
    while (g_stop == 0) {
        for (Source& source : sources) {
            NDIlib_send_send_video_v2(source.sender, &frame);
            NDIlib_tally_t tally;
            NDIlib_send_get_tally(source.sender, &tally, 0);
            const int connections = NDIlib_send_get_no_connections(source.sender, 0);
            if (tally.on_program != source.on_program || connections != source.connections) {
                source.on_program = tally.on_program;
                source.connections = connections;
                std::printf("tally %s program=%d connections=%d\n", source.name.c_str(),
                            tally.on_program ? 1 : 0, connections);
                std::fflush(stdout);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    for (Source& source : sources) {
        NDIlib_send_destroy(source.sender);
    }
    NDIlib_destroy();
    return 0;
}
