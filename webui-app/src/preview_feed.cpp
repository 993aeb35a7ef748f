#include "preview_feed.h"

#include <cstdio>
#include <utility>

#include "HelperLib/HelperLib.h"
#include "NdiTransmitter/ndi_sender_config.h"
#include "Processing.NDI.Lib.h"
#include "preview_jpeg.h"

namespace {

constexpr const char* kEncoderSettings = "/etc/vantor-enc1-settings.json";
constexpr std::chrono::seconds kPictureTooOld{1};
constexpr uint32_t kCaptureTimeoutMs = 100;

bool speedhq_layout(const NDIlib_video_frame_v2_t& frame, bool& chroma420)
{
    const auto fourcc = static_cast<std::uint32_t>(frame.FourCC);
    chroma420 = fourcc == NDIlib_FourCC_type_SHQ0_highest_bandwidth ||
                fourcc == NDIlib_FourCC_type_SHQ0_lowest_bandwidth;
    return chroma420 || fourcc == NDIlib_FourCC_type_SHQ2_highest_bandwidth ||
           fourcc == NDIlib_FourCC_type_SHQ2_lowest_bandwidth;
}

}  // namespace

PreviewFeed::PreviewFeed(std::string source) : m_source(std::move(source)) {}

PreviewFeed::~PreviewFeed()
{
    stop();
}

void PreviewFeed::start()
{
    if (m_running.exchange(true)) {
        return;
    }
    m_thread = std::thread([this] { run(); });
}

void PreviewFeed::stop()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_running = false;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

std::string PreviewFeed::source_name() const
{
    return m_source.empty() ? ndi_source_name(GetJsonString(kEncoderSettings, "StreamName"))
                            : m_source;
}

bool PreviewFeed::newest_jpeg(std::string& jpeg, long& age_ms, std::chrono::milliseconds wait)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_watched_until = clock::now() + kIdleAfter;
    const uint64_t newest = m_sequence;
    const auto ready = [this, newest] {
        return m_jpeg_sequence != 0 && m_jpeg_sequence >= newest &&
               clock::now() - m_jpeg_received_at < kPictureTooOld;
    };
    if (!ready()) {
        m_jpeg_wanted = true;
        m_changed.notify_all();
        if (!m_changed.wait_for(lock, wait, ready)) {
            return false;
        }
    }
    jpeg = m_jpeg;
    age_ms = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - m_jpeg_received_at)
            .count());
    return true;
}

void PreviewFeed::take(const NDIlib_video_frame_v2_t& frame, bool chroma420)
{
    const auto received_at = clock::now();
    std::unique_lock<std::mutex> lock(m_mutex);
    const uint64_t sequence = ++m_sequence;
    if (!m_jpeg_wanted) {
        return;
    }
    m_jpeg_wanted = false;
    lock.unlock();
    const std::vector<std::uint8_t> picture(frame.p_data, frame.p_data + frame.data_size_in_bytes);
    std::string made;
    std::string error;
    const bool ok = speedhq_to_jpeg(picture, frame.xres, frame.yres, chroma420, made, error);
    lock.lock();
    if (!ok) {
        m_jpeg_wanted = true;  // the page still waits: try the next picture
        if (!m_failure_told) {
            m_failure_told = true;
            std::printf("webui-app: preview pictures dropped: %s\n", error.c_str());
            std::fflush(stdout);
        }
        return;
    }
    m_jpeg = std::move(made);
    m_jpeg_sequence = sequence;
    m_jpeg_received_at = received_at;
    m_changed.notify_all();
}

void PreviewFeed::run()
{
    NDIlib_recv_instance_t receiver = nullptr;
    std::unique_lock<std::mutex> lock(m_mutex);
    while (m_running) {
        if (clock::now() >= m_watched_until) {
            if (receiver != nullptr) {
                lock.unlock();
                NDIlib_recv_destroy(receiver);
                lock.lock();
                receiver = nullptr;
            }
            m_changed.wait(lock, [this] { return !m_running || clock::now() < m_watched_until; });
            continue;
        }
        lock.unlock();
        if (receiver == nullptr) {
            const std::string name = source_name();
            const NDIlib_recv_create_v3_t settings(NDIlib_source_t(name.c_str()),
                                                   NDIlib_recv_bandwidth_lowest, "webui-preview");
            receiver = NDIlib_recv_create_v3(&settings);
        }
        NDIlib_video_frame_v2_t frame;
        NDIlib_audio_frame_interleaved_32f_t audio;
        NDIlib_metadata_frame_t metadata;
        NDIlib_frame_type_e kind = NDIlib_frame_type_none;
        if (receiver != nullptr) {
            // Audio and metadata are taken and dropped: left queued they would hold memory.
            kind = NDIlib_recv_capture_v2(receiver, &frame, &audio, &metadata, kCaptureTimeoutMs);
            if (kind == NDIlib_frame_type_audio) {
                NDIlib_recv_free_audio_interleaved_32f(receiver, &audio);
            } else if (kind == NDIlib_frame_type_metadata) {
                NDIlib_recv_free_metadata(receiver, &metadata);
            }
        }
        bool chroma420 = false;
        if (kind == NDIlib_frame_type_video) {
            if (speedhq_layout(frame, chroma420) && frame.p_data != nullptr &&
                frame.data_size_in_bytes > 0) {
                take(frame, chroma420);
            }
            NDIlib_recv_free_video_v2(receiver, &frame);
        }
        lock.lock();
        if (receiver == nullptr) {
            m_changed.wait_for(lock, std::chrono::milliseconds(kCaptureTimeoutMs));
        }
    }
    lock.unlock();
    if (receiver != nullptr) {
        NDIlib_recv_destroy(receiver);
    }
}
