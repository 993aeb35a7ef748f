#include "codec.h"

#include <cstring>

#include "wall_clock.h"

namespace vantor::ndi {

namespace {

// Uncompressed pictures are never larger than this (a 4K RGBA picture is 33 MB).
constexpr std::int64_t kMaxVideoData = kMaxPayloadFromSender - 64 * 1024;
constexpr int kMaxAudioChannels = 64;
constexpr int kMaxAudioSamples = 192000;

int bytes_per_pixel(std::uint32_t fourcc)
{
    return fourcc == NDIlib_FourCC_type_UYVY ? 2 : 4;
}

std::vector<std::uint8_t> message(MessageType type, const std::vector<std::uint8_t>& payload)
{
    std::vector<std::uint8_t> out;
    out.reserve(kHeaderSize + payload.size());
    put_header(out, type, static_cast<std::uint32_t>(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

bool finish(const ByteReader& reader, const char* what, std::string& error)
{
    if (!reader.ok()) {
        error = std::string(what) + " message too short";
        return false;
    }
    return true;
}

}  // namespace

std::int64_t now_100ns()
{
    // Not std::chrono::system_clock: a 32-bit-time C++ runtime reads the clock with a 32-bit
    // time_t, which fails past 2038-01-19 and leaves the reading undefined.
    WallTime now;
    return read_wall_clock(now) ? to_100ns(now) : 0;
}

bool is_lowest_bandwidth(std::uint32_t fourcc)
{
    return fourcc == NDIlib_FourCC_type_SHQ0_lowest_bandwidth ||
           fourcc == NDIlib_FourCC_type_SHQ2_lowest_bandwidth ||
           fourcc == NDIlib_FourCC_type_SHQ7_lowest_bandwidth;
}

bool is_uncompressed(std::uint32_t fourcc)
{
    return fourcc == NDIlib_FourCC_type_UYVY || fourcc == NDIlib_FourCC_type_BGRA ||
           fourcc == NDIlib_FourCC_type_BGRX || fourcc == NDIlib_FourCC_type_RGBA ||
           fourcc == NDIlib_FourCC_type_RGBX;
}

std::int64_t video_data_size(const NDIlib_video_frame_v2_t& frame)
{
    if (frame.p_data == nullptr) {
        return 0;
    }
    std::int64_t size = 0;
    if (is_uncompressed(frame.FourCC)) {
        const std::int64_t stride = frame.line_stride_in_bytes > 0
                                        ? frame.line_stride_in_bytes
                                        : std::int64_t{frame.xres} * bytes_per_pixel(frame.FourCC);
        size = stride * frame.yres;
    } else {
        size = frame.data_size_in_bytes;
    }
    if (size < 0 || size > kMaxVideoData) {
        return -1;
    }
    return size;
}

std::vector<std::uint8_t> encode_video_head(const NDIlib_video_frame_v2_t& frame,
                                            std::uint32_t data_size, std::uint32_t sequence,
                                            std::int64_t timecode, std::int64_t timestamp)
{
    std::string metadata;
    if (frame.p_metadata != nullptr) {
        metadata = frame.p_metadata;
    }
    std::vector<std::uint8_t> out;
    out.reserve(kHeaderSize + kVideoFixedSize + metadata.size());
    put_header(out, MessageType::Video,
               static_cast<std::uint32_t>(kVideoFixedSize + metadata.size() + data_size));
    ByteWriter writer(out);
    writer.i32(frame.xres);
    writer.i32(frame.yres);
    writer.u32(frame.FourCC);
    writer.i32(frame.frame_rate_N);
    writer.i32(frame.frame_rate_D);
    writer.f32(frame.picture_aspect_ratio);
    writer.i32(frame.frame_format_type);
    writer.i64(timecode);
    writer.i64(timestamp);
    writer.u32(sequence);
    writer.sized_text(metadata);
    return out;
}

std::vector<std::uint8_t> encode_audio(const NDIlib_audio_frame_interleaved_32f_t& frame,
                                       std::uint32_t sequence, std::int64_t timecode,
                                       std::int64_t timestamp)
{
    const std::size_t samples =
        static_cast<std::size_t>(frame.no_samples) * static_cast<std::size_t>(frame.no_channels);
    std::vector<std::uint8_t> payload;
    payload.reserve(kAudioFixedSize + samples * 4);
    ByteWriter writer(payload);
    writer.i32(frame.sample_rate);
    writer.i32(frame.no_channels);
    writer.i32(frame.no_samples);
    writer.i64(timecode);
    writer.i64(timestamp);
    writer.u32(sequence);
    for (std::size_t i = 0; i < samples; ++i) {
        writer.f32(frame.p_data[i]);
    }
    return message(MessageType::Audio, payload);
}

std::vector<std::uint8_t> encode_metadata(const std::string& text, std::int64_t timecode)
{
    std::vector<std::uint8_t> payload;
    ByteWriter writer(payload);
    writer.i64(timecode);
    writer.text(text);
    return message(MessageType::Metadata, payload);
}

std::vector<std::uint8_t> encode_hello(std::uint32_t streams, const std::string& name)
{
    std::vector<std::uint8_t> payload;
    ByteWriter writer(payload);
    writer.u32(streams);
    writer.text(name);
    return message(MessageType::Hello, payload);
}

std::vector<std::uint8_t> encode_tally(const NDIlib_tally_t& tally)
{
    return message(MessageType::Tally, {static_cast<std::uint8_t>(tally.on_program ? 1 : 0),
                                        static_cast<std::uint8_t>(tally.on_preview ? 1 : 0)});
}

std::vector<std::uint8_t> encode_heartbeat()
{
    return message(MessageType::Heartbeat, {});
}

std::vector<std::uint8_t> encode_source(const std::string& name, const std::string& vendor)
{
    std::vector<std::uint8_t> payload;
    ByteWriter writer(payload);
    writer.sized_text(name);
    writer.sized_text(vendor);
    return message(MessageType::Source, payload);
}

std::vector<std::uint8_t> encode_failover(const std::string& name, const std::string& address)
{
    std::vector<std::uint8_t> payload;
    ByteWriter writer(payload);
    writer.sized_text(name);
    writer.sized_text(address);
    return message(MessageType::Failover, payload);
}

std::string metadata_text(const NDIlib_metadata_frame_t& frame)
{
    if (frame.p_data == nullptr) {
        return {};
    }
    if (frame.length <= 0) {
        return frame.p_data;
    }
    const auto length = static_cast<std::size_t>(frame.length);
    const void* nul = std::memchr(frame.p_data, '\0', length);
    const std::size_t size =
        nul == nullptr ? length
                       : static_cast<std::size_t>(static_cast<const char*>(nul) - frame.p_data);
    return {frame.p_data, size};
}

bool decode_video(const std::vector<std::uint8_t>& payload, NDIlib_video_frame_v2_t& frame,
                  std::uint32_t& sequence, std::string& error)
{
    ByteReader reader(payload.data(), payload.size());
    NDIlib_video_frame_v2_t out;
    out.xres = reader.i32();
    out.yres = reader.i32();
    out.FourCC = static_cast<NDIlib_FourCC_video_type_e>(reader.u32());
    out.frame_rate_N = reader.i32();
    out.frame_rate_D = reader.i32();
    out.picture_aspect_ratio = reader.f32();
    const std::int32_t format = reader.i32();
    out.timecode = reader.i64();
    out.timestamp = reader.i64();
    sequence = reader.u32();
    const std::string metadata = reader.sized_text();
    if (!finish(reader, "video", error)) {
        return false;
    }
    if (format < NDIlib_frame_format_type_interleaved ||
        format > NDIlib_frame_format_type_field_1) {
        error = "video message with frame format " + std::to_string(format);
        return false;
    }
    out.frame_format_type = static_cast<NDIlib_frame_format_type_e>(format);
    const std::size_t size = reader.remaining();
    if (out.yres < 0 || out.xres < 0 ||
        (is_uncompressed(out.FourCC) && out.yres > 0 &&
         size % static_cast<std::size_t>(out.yres) != 0)) {
        error = "video message with inconsistent picture size";
        return false;
    }
    if (size > 0) {
        out.p_data = new std::uint8_t[size];
        std::memcpy(out.p_data, reader.skip(size), size);
    }
    if (is_uncompressed(out.FourCC)) {
        out.line_stride_in_bytes =
            out.yres > 0 ? static_cast<int>(size / static_cast<std::size_t>(out.yres)) : 0;
    } else {
        out.data_size_in_bytes = static_cast<int>(size);
    }
    if (!metadata.empty()) {
        char* text = new char[metadata.size() + 1];
        std::memcpy(text, metadata.c_str(), metadata.size() + 1);
        out.p_metadata = text;
    }
    frame = out;
    return true;
}

bool decode_audio(const std::vector<std::uint8_t>& payload,
                  NDIlib_audio_frame_interleaved_32f_t& frame, std::uint32_t& sequence,
                  std::string& error)
{
    ByteReader reader(payload.data(), payload.size());
    NDIlib_audio_frame_interleaved_32f_t out;
    out.sample_rate = reader.i32();
    out.no_channels = reader.i32();
    out.no_samples = reader.i32();
    out.timecode = reader.i64();
    out.timestamp = reader.i64();
    sequence = reader.u32();
    if (!finish(reader, "audio", error)) {
        return false;
    }
    if (out.no_channels < 0 || out.no_channels > kMaxAudioChannels || out.no_samples < 0 ||
        out.no_samples > kMaxAudioSamples ||
        reader.remaining() != static_cast<std::size_t>(out.no_channels) *
                                  static_cast<std::size_t>(out.no_samples) * 4) {
        error = "audio message with inconsistent sample count";
        return false;
    }
    const std::size_t count = reader.remaining() / 4;
    if (count > 0) {
        out.p_data = new float[count];
        for (std::size_t i = 0; i < count; ++i) {
            out.p_data[i] = reader.f32();
        }
    }
    frame = out;
    return true;
}

bool decode_metadata(const std::vector<std::uint8_t>& payload, std::string& text,
                     std::int64_t& timecode, std::string& error)
{
    ByteReader reader(payload.data(), payload.size());
    timecode = reader.i64();
    text = reader.text(reader.remaining());
    if (!finish(reader, "metadata", error)) {
        return false;
    }
    // A text stops at its first NUL, as the frame handed on will.
    const std::size_t nul = text.find('\0');
    if (nul != std::string::npos) {
        text.resize(nul);
    }
    return true;
}

bool decode_hello(const std::vector<std::uint8_t>& payload, std::uint32_t& streams,
                  std::string& name, std::string& error)
{
    ByteReader reader(payload.data(), payload.size());
    streams = reader.u32();
    name = reader.text(reader.remaining());
    return finish(reader, "hello", error);
}

bool decode_tally(const std::vector<std::uint8_t>& payload, NDIlib_tally_t& tally,
                  std::string& error)
{
    if (payload.size() != 2 || payload[0] > 1 || payload[1] > 1) {
        error = "malformed tally message";
        return false;
    }
    tally.on_program = payload[0] == 1;
    tally.on_preview = payload[1] == 1;
    return true;
}

bool decode_source(const std::vector<std::uint8_t>& payload, std::string& name, std::string& vendor,
                   std::string& error)
{
    ByteReader reader(payload.data(), payload.size());
    name = reader.sized_text();
    vendor = reader.sized_text();
    return finish(reader, "source", error);
}

bool decode_failover(const std::vector<std::uint8_t>& payload, std::string& name,
                     std::string& address, std::string& error)
{
    ByteReader reader(payload.data(), payload.size());
    name = reader.sized_text();
    address = reader.sized_text();
    return finish(reader, "failover", error);
}

void fill_metadata_frame(NDIlib_metadata_frame_t& frame, const std::string& text,
                         std::int64_t timecode)
{
    char* data = new char[text.size() + 1];
    std::memcpy(data, text.c_str(), text.size() + 1);
    frame.p_data = data;
    frame.length = static_cast<int>(text.size() + 1);
    frame.timecode = timecode;
}

void free_video(const NDIlib_video_frame_v2_t& frame)
{
    delete[] frame.p_data;
    delete[] frame.p_metadata;
}

void free_audio(const NDIlib_audio_frame_interleaved_32f_t& frame)
{
    delete[] frame.p_data;
}

void free_metadata(const NDIlib_metadata_frame_t& frame)
{
    delete[] frame.p_data;
}

}  // namespace vantor::ndi
