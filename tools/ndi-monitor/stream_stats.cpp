#include "stream_stats.h"

#include <cstdio>

namespace ndi_monitor {

namespace {

bool lowest_bandwidth(std::uint32_t fourcc)
{
    return fourcc == NDIlib_FourCC_type_SHQ0_lowest_bandwidth ||
           fourcc == NDIlib_FourCC_type_SHQ2_lowest_bandwidth ||
           fourcc == NDIlib_FourCC_type_SHQ7_lowest_bandwidth;
}

}  // namespace

std::string fourcc_text(std::uint32_t fourcc)
{
    std::string text;
    for (int shift = 0; shift < 32; shift += 8) {
        const auto c = static_cast<char>((fourcc >> shift) & 0xFFU);
        text += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return text;
}

void StreamStats::add_video(const NDIlib_video_frame_v2_t& frame)
{
    Video& video = lowest_bandwidth(frame.FourCC) ? m_preview : m_program;
    video.seen = true;
    video.xres = frame.xres;
    video.yres = frame.yres;
    video.fourcc = frame.FourCC;
    ++video.frames;
    const bool uncompressed =
        frame.FourCC == NDIlib_FourCC_type_UYVY || frame.FourCC == NDIlib_FourCC_type_BGRA ||
        frame.FourCC == NDIlib_FourCC_type_BGRX || frame.FourCC == NDIlib_FourCC_type_RGBA ||
        frame.FourCC == NDIlib_FourCC_type_RGBX;
    video.bytes += uncompressed ? std::int64_t{frame.line_stride_in_bytes} * frame.yres
                                : frame.data_size_in_bytes;
}

void StreamStats::add_audio(const NDIlib_audio_frame_interleaved_32f_t& frame)
{
    ++m_audio_blocks;
    m_sample_rate = frame.sample_rate;
    m_channels = frame.no_channels;
    m_level.add(frame);
}

std::vector<std::string> StreamStats::report(double seconds,
                                             const NDIlib_recv_performance_t& dropped)
{
    const std::int64_t lost_video = dropped.video_frames - m_dropped_before.video_frames;
    const std::int64_t lost_preview =
        dropped.video_frames_lowest_bandwidth - m_dropped_before.video_frames_lowest_bandwidth;
    const std::int64_t lost_audio = dropped.audio_frames - m_dropped_before.audio_frames;
    m_dropped_before = dropped;

    std::vector<std::string> lines;
    char line[256];
    const auto video_line = [&](const char* name, Video& video, std::int64_t lost) {
        if (video.frames == 0 && lost == 0) {
            return;
        }
        std::snprintf(line, sizeof line, "video %s: %dx%d %s %.2f fps, %lld bytes/frame, %lld lost",
                      name, video.xres, video.yres, fourcc_text(video.fourcc).c_str(),
                      static_cast<double>(video.frames) / seconds,
                      static_cast<long long>(video.frames > 0 ? video.bytes / video.frames : 0),
                      static_cast<long long>(lost));
        lines.emplace_back(line);
        video.frames = 0;
        video.bytes = 0;
    };
    video_line("program", m_program, lost_video - lost_preview);
    video_line("preview", m_preview, lost_preview);
    if (m_audio_blocks > 0 || lost_audio > 0) {
        std::snprintf(line, sizeof line, "audio: %d Hz, %d channels, %.1f blocks/s, %lld lost",
                      m_sample_rate, m_channels, static_cast<double>(m_audio_blocks) / seconds,
                      static_cast<long long>(lost_audio));
        lines.emplace_back(line);
        m_audio_blocks = 0;
    }
    std::string level = m_level.report();
    if (!level.empty()) {
        lines.push_back(std::move(level));
    }
    return lines;
}

}  // namespace ndi_monitor
