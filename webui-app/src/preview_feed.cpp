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
    const std::lock_guard<std::mutex> encode_lock(m_encode_mutex);
    std::unique_lock<std::mutex> lock(m_mutex);
    m_watched_until = clock::now() + kIdleAfter;
    m_changed.notify_all();
    const auto fresh = [this] {
        return m_sequence != 0 && clock::now() - m_received_at < kPictureTooOld;
    };
    if (!m_changed.wait_for(lock, wait, fresh)) {
        return false;
    }
    if (m_jpeg_sequence != m_sequence) {
        const std::vector<std::uint8_t> picture = m_picture;
        const uint64_t sequence = m_sequence;
        const int width = m_width;
        const int height = m_height;
        const bool chroma420 = m_chroma420;
        lock.unlock();  // the receiver goes on while this picture is decoded
        std::string made;
        std::string error;
        const bool ok = speedhq_to_jpeg(picture, width, height, chroma420, made, error);
        lock.lock();
        if (!ok) {
            std::printf("webui-app: preview picture dropped: %s\n", error.c_str());
            return false;
        }
        m_jpeg = std::move(made);
        m_jpeg_sequence = sequence;
    }
    jpeg = m_jpeg;
    age_ms = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - m_received_at)
            .count());
    return true;
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
        const bool got = kind == NDIlib_frame_type_video;
        bool chroma420 = false;
        lock.lock();
        if (!got) {
            if (receiver == nullptr) {
                m_changed.wait_for(lock, std::chrono::milliseconds(kCaptureTimeoutMs));
            }
            continue;
        }
        if (speedhq_layout(frame, chroma420) && frame.p_data != nullptr &&
            frame.data_size_in_bytes > 0) {
            m_picture.assign(frame.p_data, frame.p_data + frame.data_size_in_bytes);
            m_width = frame.xres;
            m_height = frame.yres;
            m_chroma420 = chroma420;
            m_received_at = clock::now();
            ++m_sequence;
            m_changed.notify_all();
        }
        lock.unlock();
        NDIlib_recv_free_video_v2(receiver, &frame);
        lock.lock();
    }
    lock.unlock();
    if (receiver != nullptr) {
        NDIlib_recv_destroy(receiver);
    }
}
