#pragma once

// The payloads of the messages of wire.h: building them on one side and reading them back, with
// every field checked, on the other.

#include <cstdint>
#include <string>
#include <vector>

#include "Processing.NDI.Lib.h"
#include "wire.h"

namespace vantor::ndi {

// Now, in 100 ns units since 1970 (UTC): synthesised timecodes and send timestamps.
std::int64_t now_100ns();

// Preview-stream pictures carry the lower-case SpeedHQ codes.
bool is_lowest_bandwidth(std::uint32_t fourcc);
// Uncompressed pictures are line_stride_in_bytes × yres long; everything else is compressed.
bool is_uncompressed(std::uint32_t fourcc);

// Bytes of picture data a frame to be sent holds, or -1 when its size fields are not usable.
std::int64_t video_data_size(const NDIlib_video_frame_v2_t& frame);

// Fixed part of a video payload (before the frame's metadata text and data).
inline constexpr std::size_t kVideoFixedSize = 52;
// Fixed part of an audio payload (before the samples).
inline constexpr std::size_t kAudioFixedSize = 32;

// Header and fixed fields of a video message whose data (`data_size` bytes) follows separately.
std::vector<std::uint8_t> encode_video_head(const NDIlib_video_frame_v2_t& frame,
                                            std::uint32_t data_size, std::uint32_t sequence,
                                            std::int64_t timecode, std::int64_t timestamp);
std::vector<std::uint8_t> encode_audio(const NDIlib_audio_frame_interleaved_32f_t& frame,
                                       std::uint32_t sequence, std::int64_t timecode,
                                       std::int64_t timestamp);
std::vector<std::uint8_t> encode_metadata(const std::string& text, std::int64_t timecode);
std::vector<std::uint8_t> encode_hello(std::uint32_t streams, const std::string& name);
std::vector<std::uint8_t> encode_tally(const NDIlib_tally_t& tally);
std::vector<std::uint8_t> encode_heartbeat();
std::vector<std::uint8_t> encode_source(const std::string& name, const std::string& vendor);
std::vector<std::uint8_t> encode_failover(const std::string& name, const std::string& address);

// The text of a metadata frame given to the runtime: `length` bytes (0: up to the NUL), cut at the
// first NUL.
std::string metadata_text(const NDIlib_metadata_frame_t& frame);

// Readers. On success the frames own heap copies (freed with the free_* functions below); on
// failure nothing is allocated and `error` says what is wrong.
bool decode_video(const std::vector<std::uint8_t>& payload, NDIlib_video_frame_v2_t& frame,
                  std::uint32_t& sequence, std::string& error);
bool decode_audio(const std::vector<std::uint8_t>& payload,
                  NDIlib_audio_frame_interleaved_32f_t& frame, std::uint32_t& sequence,
                  std::string& error);
bool decode_metadata(const std::vector<std::uint8_t>& payload, std::string& text,
                     std::int64_t& timecode, std::string& error);
bool decode_hello(const std::vector<std::uint8_t>& payload, std::uint32_t& streams,
                  std::string& name, std::string& error);
bool decode_tally(const std::vector<std::uint8_t>& payload, NDIlib_tally_t& tally,
                  std::string& error);
bool decode_source(const std::vector<std::uint8_t>& payload, std::string& name, std::string& vendor,
                   std::string& error);
bool decode_failover(const std::vector<std::uint8_t>& payload, std::string& name,
                     std::string& address, std::string& error);

// Fills a metadata frame with a heap copy of `text` (NUL-terminated; length counts the NUL).
void fill_metadata_frame(NDIlib_metadata_frame_t& frame, const std::string& text,
                         std::int64_t timecode);
void free_video(const NDIlib_video_frame_v2_t& frame);
void free_audio(const NDIlib_audio_frame_interleaved_32f_t& frame);
void free_metadata(const NDIlib_metadata_frame_t& frame);

}  // namespace vantor::ndi
