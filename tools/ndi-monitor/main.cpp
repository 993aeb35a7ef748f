// ndi-monitor: connects to an NDI source and shows what it sends (see --help).

#include <csignal>
#include <cstdio>
#include <string>

#include <atomic>
#include <chrono>
#include <memory>

#include "Processing.NDI.Lib.h"
#include "options.h"
#include "ptz_console.h"
#include "snapshot.h"
#include "source_list.h"
#include "stream_stats.h"

namespace {

std::atomic<bool> g_interrupted{false};

void on_signal(int /*signal*/)
{
    g_interrupted.store(true);
}

void print_line(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

bool save_picture(const std::string& path, const NDIlib_video_frame_v2_t& frame)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const auto size = static_cast<std::size_t>(frame.data_size_in_bytes);
    const bool written = size == 0 || std::fwrite(frame.p_data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

// One picture the command line asked to be written to a file (--save-picture, --snapshot).
struct PictureRequest {
    std::string path;  // empty: not asked for
    bool done = false;
    bool written = false;
    std::string status;  // the line to print once done

    bool wanted() const { return !path.empty() && !done; }
    void finish(bool ok, const std::string& line)
    {
        done = true;
        written = ok;
        status = line;
    }
};

// "1920x1080 SHQ2"
std::string picture_text(const NDIlib_video_frame_v2_t& frame)
{
    return std::to_string(frame.xres) + "x" + std::to_string(frame.yres) + " " +
           ndi_monitor::fourcc_text(frame.FourCC);
}

class Monitor {
public:
    explicit Monitor(const ndi_monitor::Options& options) : m_options(options)
    {
        m_save.path = options.save_picture;
        m_snapshot.path = options.snapshot;
    }

    int run()
    {
        const bool by_address = m_options.source.find(':') != std::string::npos &&
                                m_options.source.find(' ') == std::string::npos;
        const NDIlib_source_t source = by_address
                                           ? NDIlib_source_t(nullptr, m_options.source.c_str())
                                           : NDIlib_source_t(m_options.source.c_str());
        const NDIlib_recv_create_v3_t settings(source, m_options.streams, "ndi-monitor");
        m_receiver = NDIlib_recv_create_v3(&settings);
        if (m_receiver == nullptr) {
            std::fprintf(stderr, "ndi-monitor: cannot create a receiver\n");
            return 1;
        }
        if (m_options.set_tally) {
            // Kept by the receiver and sent on every (re)connection.
            NDIlib_recv_set_tally(m_receiver, &m_options.tally);
        }
        if (m_options.ptz) {
            m_ptz = std::make_unique<ndi_monitor::PtzConsole>();
            print_line(ndi_monitor::PtzConsole::help_text());
        }
        const int status = loop();
        m_ptz.reset();
        NDIlib_recv_destroy(m_receiver);
        return status;
    }

private:
    using Clock = std::chrono::steady_clock;

    int loop()
    {
        const auto started = Clock::now();
        Clock::time_point connected_at;
        Clock::time_point last_report;
        bool ever_connected = false;
        bool connected = false;
        std::string connected_source;
        bool metadata_sent = false;
        std::string failover;
        int status = 0;
        while (!g_interrupted.load()) {
            NDIlib_recv_source_info_t info;
            NDIlib_recv_get_source_info(m_receiver, &info);
            const auto now = Clock::now();
            // A receiver moving between sources (failover and back) may do so between two looks:
            // a new source counts as a new connection.
            const std::string source = std::string(info.name) + " " + info.address;
            if (info.connected && info.name[0] != '\0' &&
                (!connected || source != connected_source)) {
                connected = true;
                connected_source = source;
                if (!ever_connected) {
                    ever_connected = true;
                    connected_at = now;
                    last_report = now;
                }
                print_line(std::string("connected to '") + info.name + "' at " + info.address +
                           (info.vendor[0] != '\0' ? std::string(" (vendor ") + info.vendor + ")"
                                                   : std::string()));
            } else if (!info.connected && connected) {
                connected = false;
                print_line("disconnected");
            }
            const std::string announced =
                std::string(info.failover_name) + (info.failover_address[0] != '\0'
                                                       ? std::string(" at ") + info.failover_address
                                                       : std::string());
            if (connected && announced != failover) {
                failover = announced;
                print_line(failover.empty() ? "failover source: none"
                                            : "failover source: '" + failover + "'");
            }
            if (!ever_connected) {
                if (now - started > std::chrono::seconds(m_options.connect_timeout)) {
                    std::fprintf(stderr, "ndi-monitor: '%s' not reached within %d s\n",
                                 m_options.source.c_str(), m_options.connect_timeout);
                    return 2;
                }
            }
            if (connected && !metadata_sent) {
                metadata_sent = send_metadata();
            }
            capture();
            if (m_ptz && connected) {
                for (const std::string& text : m_ptz->poll()) {
                    send_one(text);
                }
                if (m_ptz->quit()) {
                    break;
                }
            }
            for (PictureRequest* request : {&m_save, &m_snapshot}) {
                if (!request->status.empty()) {
                    print_line(request->status);
                    status = request->written ? status : 3;
                    request->status.clear();
                }
            }
            if (ever_connected && now - last_report >= std::chrono::seconds(1)) {
                NDIlib_recv_performance_t total;
                NDIlib_recv_performance_t dropped;
                NDIlib_recv_get_performance(m_receiver, &total, &dropped);
                const double seconds = std::chrono::duration<double>(now - last_report).count();
                for (const std::string& line : m_stats.report(seconds, dropped)) {
                    print_line(line);
                }
                last_report = now;
            }
            if (ever_connected && m_options.seconds > 0 &&
                now - connected_at >= std::chrono::seconds(m_options.seconds)) {
                break;
            }
        }
        // Leaving for another reason than the operator's q (Ctrl-C, --seconds): stop the camera.
        if (m_ptz && connected && !m_ptz->quit()) {
            for (const std::string& text : ndi_monitor::PtzKeys::stop_texts()) {
                send_one(text);
            }
        }
        for (const PictureRequest* request : {&m_save, &m_snapshot}) {
            if (request->wanted()) {
                print_line("no picture received; " + request->path + " not written");
                status = 3;
            }
        }
        return status;
    }

    bool send_metadata()
    {
        for (const std::string& text : m_options.metadata) {
            if (!send_one(text)) {
                return false;
            }
        }
        return true;
    }

    bool send_one(const std::string& text)
    {
        NDIlib_metadata_frame_t frame(0, NDIlib_send_timecode_synthesize,
                                      const_cast<char*>(text.c_str()));
        if (!NDIlib_recv_send_metadata(m_receiver, &frame)) {
            return false;
        }
        print_line("sent metadata: " + text);
        return true;
    }

    // Takes what arrived within 100 ms.
    void capture()
    {
        NDIlib_video_frame_v2_t video;
        NDIlib_audio_frame_interleaved_32f_t audio;
        NDIlib_metadata_frame_t metadata;
        switch (NDIlib_recv_capture_v2(m_receiver, &video, &audio, &metadata, 100)) {
        case NDIlib_frame_type_video:
            m_stats.add_video(video);
            if (m_save.wanted()) {
                const bool saved = save_picture(m_save.path, video);
                m_save.finish(saved, saved ? "picture saved to " + m_save.path + " (" +
                                                 std::to_string(video.data_size_in_bytes) +
                                                 " bytes, " + picture_text(video) + ")"
                                           : "cannot write " + m_save.path);
            }
            if (m_snapshot.wanted() && (ndi_monitor::is_program_picture(video) ||
                                        m_options.streams == NDIlib_recv_bandwidth_lowest)) {
                std::string error;
                const bool written = ndi_monitor::write_snapshot(video, m_snapshot.path, error);
                m_snapshot.finish(written, written ? "snapshot written to " + m_snapshot.path +
                                                         " (" + picture_text(video) + ")"
                                                   : "snapshot not written: " + error);
            }
            NDIlib_recv_free_video_v2(m_receiver, &video);
            break;
        case NDIlib_frame_type_audio:
            m_stats.add_audio(audio);
            NDIlib_recv_free_audio_interleaved_32f(m_receiver, &audio);
            break;
        case NDIlib_frame_type_metadata:
            print_line(std::string("metadata: ") + metadata.p_data);
            NDIlib_recv_free_metadata(m_receiver, &metadata);
            break;
        default:
            break;
        }
    }

    const ndi_monitor::Options& m_options;
    NDIlib_recv_instance_t m_receiver = nullptr;
    ndi_monitor::StreamStats m_stats;
    PictureRequest m_save;
    PictureRequest m_snapshot;
    std::unique_ptr<ndi_monitor::PtzConsole> m_ptz;  // with --ptz
};

}  // namespace

int main(int argc, char** argv)
{
    ndi_monitor::Options options;
    std::string error;
    if (!ndi_monitor::parse_options(argc, argv, options, error)) {
        std::fprintf(stderr, "ndi-monitor: %s\n\n%s", error.c_str(), ndi_monitor::usage_text());
        return 1;
    }
    if (options.help) {
        std::printf("%s", ndi_monitor::usage_text());
        return 0;
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    if (!NDIlib_initialize()) {
        std::fprintf(stderr, "ndi-monitor: the NDI runtime cannot be used here\n");
        return 1;
    }
    const int status = options.list ? ndi_monitor::list_sources(options) : Monitor(options).run();
    NDIlib_destroy();
    return status;
}
