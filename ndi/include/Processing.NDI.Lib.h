#pragma once

// The NDI runtime of the camera firmware: senders that publish compressed video, audio and
// metadata, receive metadata and tally from their receivers, and the receiving side used by tools
// and tests. The calls and records carry the names the firmware is written against; the wire
// format, transport and discovery are this library's own (see ndi/README.md).
//
// Records get their usual defaults from their constructors, so `NDIlib_video_frame_v2_t frame;`
// describes an empty progressive 29.97 picture with a synthesised timecode.

#include <cstddef>
#include <cstdint>

// A timecode of this value asks the sender to fill in the time of sending.
static constexpr int64_t NDIlib_send_timecode_synthesize = INT64_MAX;

// ---------------------------------------------------------------------------------------------
// Enumerations

enum NDIlib_frame_type_e {
    NDIlib_frame_type_none = 0,
    NDIlib_frame_type_video = 1,
    NDIlib_frame_type_audio = 2,
    NDIlib_frame_type_metadata = 3,
    NDIlib_frame_type_error = 4,
    NDIlib_frame_type_status_change = 100,
};

#define NDI_LIB_FOURCC(a, b, c, d)                                                                 \
    ((uint32_t)(uint8_t)(a) | ((uint32_t)(uint8_t)(b) << 8) | ((uint32_t)(uint8_t)(c) << 16) |     \
     ((uint32_t)(uint8_t)(d) << 24))

// Uncompressed picture formats; the data is `line_stride_in_bytes` × `yres` long.
enum NDIlib_FourCC_video_type_e : uint32_t {
    NDIlib_FourCC_type_UYVY = NDI_LIB_FOURCC('U', 'Y', 'V', 'Y'),
    NDIlib_FourCC_type_BGRA = NDI_LIB_FOURCC('B', 'G', 'R', 'A'),
    NDIlib_FourCC_type_BGRX = NDI_LIB_FOURCC('B', 'G', 'R', 'X'),
    NDIlib_FourCC_type_RGBA = NDI_LIB_FOURCC('R', 'G', 'B', 'A'),
    NDIlib_FourCC_type_RGBX = NDI_LIB_FOURCC('R', 'G', 'B', 'X'),
};

// Compressed picture formats, an enumeration of their own: a frame's `FourCC` is the plain type,
// so a compressed code is cast to it (`(NDIlib_FourCC_video_type_e)NDIlib_FourCC_type_SHQ2_
// highest_bandwidth`), as with runtimes where the two types differ. The upper-case SpeedHQ codes
// are pictures of the highest-bandwidth (program) stream, the lower-case ones those of the
// lowest-bandwidth (preview) stream; the data is `data_size_in_bytes` long.
enum NDIlib_FourCC_video_type_ex_e : uint32_t {
    // SpeedHQ 4:2:0 (SHQ0), 4:2:2 (SHQ2) and 4:2:2:4 (SHQ7).
    NDIlib_FourCC_type_SHQ0_highest_bandwidth = NDI_LIB_FOURCC('S', 'H', 'Q', '0'),
    NDIlib_FourCC_type_SHQ2_highest_bandwidth = NDI_LIB_FOURCC('S', 'H', 'Q', '2'),
    NDIlib_FourCC_type_SHQ7_highest_bandwidth = NDI_LIB_FOURCC('S', 'H', 'Q', '7'),
    NDIlib_FourCC_type_SHQ0_lowest_bandwidth = NDI_LIB_FOURCC('s', 'h', 'q', '0'),
    NDIlib_FourCC_type_SHQ2_lowest_bandwidth = NDI_LIB_FOURCC('s', 'h', 'q', '2'),
    NDIlib_FourCC_type_SHQ7_lowest_bandwidth = NDI_LIB_FOURCC('s', 'h', 'q', '7'),
};

enum NDIlib_frame_format_type_e {
    NDIlib_frame_format_type_interleaved = 0,
    NDIlib_frame_format_type_progressive = 1,
    NDIlib_frame_format_type_field_0 = 2,
    NDIlib_frame_format_type_field_1 = 3,
};

// What a receiver asks its sender for. `highest` is the program video stream, `lowest` the preview
// stream; both also carry audio and metadata. `NDIlib_recv_bandwidth_all_video` (this library's
// own) receives both video streams, as a monitor does.
enum NDIlib_recv_bandwidth_e {
    NDIlib_recv_bandwidth_metadata_only = -10,
    NDIlib_recv_bandwidth_audio_only = 10,
    NDIlib_recv_bandwidth_lowest = 0,
    NDIlib_recv_bandwidth_highest = 100,
    NDIlib_recv_bandwidth_all_video = 200,
};

// ---------------------------------------------------------------------------------------------
// Records

struct NDIlib_source_t {
    const char* p_ndi_name;     // the sender's name
    const char* p_url_address;  // "host:port"; when set it is used instead of a look-up by name

    NDIlib_source_t(const char* name = nullptr, const char* url_address = nullptr)
        : p_ndi_name(name), p_url_address(url_address)
    {
    }
};

struct NDIlib_send_create_t {
    const char* p_ndi_name;  // the sender's name; the string is copied
    const char* p_groups;    // comma-separated groups, or null; the string is copied
    bool clock_video;        // pace video sends to the frame rate (not done by this runtime)
    bool clock_audio;        // pace audio sends to the sample rate (not done by this runtime)

    NDIlib_send_create_t(const char* name = nullptr, const char* groups = nullptr,
                         bool clock_video_ = true, bool clock_audio_ = true)
        : p_ndi_name(name), p_groups(groups), clock_video(clock_video_), clock_audio(clock_audio_)
    {
    }
};

struct NDIlib_video_frame_v2_t {
    int xres;
    int yres;
    NDIlib_FourCC_video_type_e FourCC;
    int frame_rate_N;
    int frame_rate_D;
    float picture_aspect_ratio;  // 0 means xres / yres
    NDIlib_frame_format_type_e frame_format_type;
    int64_t timecode;  // 100 ns units
    uint8_t* p_data;
    union {
        int line_stride_in_bytes;  // uncompressed pictures
        int data_size_in_bytes;    // compressed pictures
    };
    const char* p_metadata;  // per-frame XML, or null
    // On receive: when the sender sent the frame, in 100 ns units since 1970 (UTC). Ignored on
    // send.
    int64_t timestamp;

    NDIlib_video_frame_v2_t(
        int xres_ = 0, int yres_ = 0, NDIlib_FourCC_video_type_e fourcc = NDIlib_FourCC_type_UYVY,
        int frame_rate_N_ = 30000, int frame_rate_D_ = 1001, float aspect = 0.0F,
        NDIlib_frame_format_type_e format = NDIlib_frame_format_type_progressive,
        int64_t timecode_ = NDIlib_send_timecode_synthesize, uint8_t* data = nullptr,
        int stride_or_size = 0, const char* metadata = nullptr, int64_t timestamp_ = 0)
        : xres(xres_), yres(yres_), FourCC(fourcc), frame_rate_N(frame_rate_N_),
          frame_rate_D(frame_rate_D_), picture_aspect_ratio(aspect), frame_format_type(format),
          timecode(timecode_), p_data(data), line_stride_in_bytes(stride_or_size),
          p_metadata(metadata), timestamp(timestamp_)
    {
    }
};

// Interleaved 32-bit float audio: sample i of channel c is p_data[i * no_channels + c].
struct NDIlib_audio_frame_interleaved_32f_t {
    int sample_rate;
    int no_channels;
    int no_samples;
    int64_t timecode;
    float* p_data;
    // On receive: when the sender sent the block, in 100 ns units since 1970 (UTC).
    int64_t timestamp = 0;

    NDIlib_audio_frame_interleaved_32f_t(int sample_rate_ = 48000, int no_channels_ = 2,
                                         int no_samples_ = 0,
                                         int64_t timecode_ = NDIlib_send_timecode_synthesize,
                                         float* data = nullptr)
        : sample_rate(sample_rate_), no_channels(no_channels_), no_samples(no_samples_),
          timecode(timecode_), p_data(data)
    {
    }
};

// A metadata text (XML). `length` counts the terminating NUL; 0 means "up to the NUL".
struct NDIlib_metadata_frame_t {
    int length;
    int64_t timecode;
    char* p_data;

    NDIlib_metadata_frame_t(int length_ = 0, int64_t timecode_ = NDIlib_send_timecode_synthesize,
                            char* data = nullptr)
        : length(length_), timecode(timecode_), p_data(data)
    {
    }
};

struct NDIlib_tally_t {
    bool on_program;
    bool on_preview;

    NDIlib_tally_t(bool program = false, bool preview = false)
        : on_program(program), on_preview(preview)
    {
    }
};

struct NDIlib_recv_create_v3_t {
    NDIlib_source_t source_to_connect_to;
    NDIlib_recv_bandwidth_e bandwidth;
    const char* p_ndi_recv_name;  // told to the sender; may be null

    NDIlib_recv_create_v3_t(const NDIlib_source_t source = NDIlib_source_t(),
                            NDIlib_recv_bandwidth_e bandwidth_ = NDIlib_recv_bandwidth_highest,
                            const char* name = nullptr)
        : source_to_connect_to(source), bandwidth(bandwidth_), p_ndi_recv_name(name)
    {
    }
};

// Frame counts of a receiver. `video_frames_lowest_bandwidth` (this library's own) is the part of
// `video_frames` that belongs to the preview stream.
struct NDIlib_recv_performance_t {
    int64_t video_frames = 0;
    int64_t audio_frames = 0;
    int64_t metadata_frames = 0;
    int64_t video_frames_lowest_bandwidth = 0;
};

// What a receiver knows about its sender (this library's own). Texts are NUL-terminated and cut to
// the array size.
struct NDIlib_recv_source_info_t {
    bool connected;
    char name[256];
    char address[64];
    char vendor[64];
    char failover_name[256];
    char failover_address[64];
};

using NDIlib_send_instance_t = struct NDIlib_send_instance_type*;
using NDIlib_recv_instance_t = struct NDIlib_recv_instance_type*;

// ---------------------------------------------------------------------------------------------
// The runtime

// Once before the first sender or receiver; true when the runtime can be used.
bool NDIlib_initialize();
// Once after the last sender and receiver have been destroyed.
void NDIlib_destroy();

// ---------------------------------------------------------------------------------------------
// Senders. Every call may be made from several threads at once on the same sender; none of them
// waits for a receiver.

// Creates a sender and makes it findable by name. `p_config_data` is a JSON configuration text (or
// null); what this runtime does not use is ignored, and a text that is not JSON still gives a
// sender (the sender says so in one line). Returns null when no listening socket can be had.
NDIlib_send_instance_t NDIlib_send_create_v2(const NDIlib_send_create_t* p_create_settings,
                                             const char* p_config_data = nullptr);
NDIlib_send_instance_t NDIlib_send_create(const NDIlib_send_create_t* p_create_settings = nullptr);
// Disconnects every receiver and frees the sender. Frames still queued are dropped.
void NDIlib_send_destroy(NDIlib_send_instance_t p_instance);

// Sends a picture without copying it: the data stays in use until the next video send on this
// sender returns (or the sender is destroyed) and no longer. A null frame just ends the use of the
// previous picture.
void NDIlib_send_send_video_async_v2(NDIlib_send_instance_t p_instance,
                                     const NDIlib_video_frame_v2_t* p_video_data);
// Sends a picture; the data is no longer used when the call returns.
void NDIlib_send_send_video_v2(NDIlib_send_instance_t p_instance,
                               const NDIlib_video_frame_v2_t* p_video_data);
// Sends a block of interleaved float audio; the data is copied.
void NDIlib_util_send_send_audio_interleaved_32f(
    NDIlib_send_instance_t p_instance, const NDIlib_audio_frame_interleaved_32f_t* p_audio_data);
// Sends a metadata text to every connected receiver; the text is copied.
void NDIlib_send_send_metadata(NDIlib_send_instance_t p_instance,
                               const NDIlib_metadata_frame_t* p_metadata);

// Waits up to `timeout_in_ms` for a metadata text from a receiver. Returns
// NDIlib_frame_type_metadata with `p_metadata` filled in (free it with NDIlib_send_free_metadata),
// or NDIlib_frame_type_none.
NDIlib_frame_type_e NDIlib_send_capture(NDIlib_send_instance_t p_instance,
                                        NDIlib_metadata_frame_t* p_metadata,
                                        uint32_t timeout_in_ms);
void NDIlib_send_free_metadata(NDIlib_send_instance_t p_instance,
                               const NDIlib_metadata_frame_t* p_metadata);

// Fills `p_tally` with the union of the connected receivers' tally. Returns true when it changed
// since the previous call, waiting up to `timeout_in_ms` for a change.
bool NDIlib_send_get_tally(NDIlib_send_instance_t p_instance, NDIlib_tally_t* p_tally,
                           uint32_t timeout_in_ms);
// Number of connected receivers, waiting up to `timeout_in_ms` for at least one.
int NDIlib_send_get_no_connections(NDIlib_send_instance_t p_instance, uint32_t timeout_in_ms);

// Metadata sent to every receiver when it connects, including receivers already connected.
void NDIlib_send_add_connection_metadata(NDIlib_send_instance_t p_instance,
                                         const NDIlib_metadata_frame_t* p_metadata);
void NDIlib_send_clear_connection_metadata(NDIlib_send_instance_t p_instance);
// The source receivers move to when this sender stops; null clears it. The strings are copied.
void NDIlib_send_set_failover(NDIlib_send_instance_t p_instance,
                              const NDIlib_source_t* p_failover_source);

// The sender's name and address ("host:port"), valid while the sender lives.
const NDIlib_source_t* NDIlib_send_get_source_name(NDIlib_send_instance_t p_instance);

// The compressed size, in bytes, to aim at for one picture of this format (see ndi/README.md).
// 0 for a null frame, a non-positive size or frame rate.
int NDIlib_send_get_target_frame_size(NDIlib_send_instance_t p_instance,
                                      const NDIlib_video_frame_v2_t* p_video_data);

// ---------------------------------------------------------------------------------------------
// Receivers. A receiver connects in the background, reconnects when its sender goes away and moves
// to the sender's failover source when one was announced.

NDIlib_recv_instance_t NDIlib_recv_create_v3(const NDIlib_recv_create_v3_t* p_create_settings);
void NDIlib_recv_destroy(NDIlib_recv_instance_t p_instance);

// Waits up to `timeout_in_ms` for a frame of a kind whose pointer is not null and fills it in.
// Frames of the other kinds stay queued. Free what was filled in with the matching free call.
NDIlib_frame_type_e NDIlib_recv_capture_v2(NDIlib_recv_instance_t p_instance,
                                           NDIlib_video_frame_v2_t* p_video_data,
                                           NDIlib_audio_frame_interleaved_32f_t* p_audio_data,
                                           NDIlib_metadata_frame_t* p_metadata,
                                           uint32_t timeout_in_ms);
void NDIlib_recv_free_video_v2(NDIlib_recv_instance_t p_instance,
                               const NDIlib_video_frame_v2_t* p_video_data);
void NDIlib_recv_free_audio_interleaved_32f(NDIlib_recv_instance_t p_instance,
                                            const NDIlib_audio_frame_interleaved_32f_t* p_audio);
void NDIlib_recv_free_metadata(NDIlib_recv_instance_t p_instance,
                               const NDIlib_metadata_frame_t* p_metadata);

// Sends a metadata text to the sender. False when not connected.
bool NDIlib_recv_send_metadata(NDIlib_recv_instance_t p_instance,
                               const NDIlib_metadata_frame_t* p_metadata);
// Sets this receiver's tally; it is also sent again after each reconnection.
bool NDIlib_recv_set_tally(NDIlib_recv_instance_t p_instance, const NDIlib_tally_t* p_tally);
// 1 while connected, else 0.
int NDIlib_recv_get_no_connections(NDIlib_recv_instance_t p_instance);
// Frames received and frames lost (in the sender's queue for this receiver or in this receiver's
// own queue) since creation.
void NDIlib_recv_get_performance(NDIlib_recv_instance_t p_instance,
                                 NDIlib_recv_performance_t* p_total,
                                 NDIlib_recv_performance_t* p_dropped);
// This library's own: the connected sender's name, address, vendor and announced failover source.
void NDIlib_recv_get_source_info(NDIlib_recv_instance_t p_instance,
                                 NDIlib_recv_source_info_t* p_info);

// ---------------------------------------------------------------------------------------------
// Finding senders: by mDNS through the avahi daemon and, on this machine, in the registry folder
// (see ndi/README.md). Only senders sharing a group with `p_groups` (comma-separated; null or
// empty: "public") are listed.

struct NDIlib_find_create_t {
    bool show_local_sources;  // accepted; senders of this machine are always listed
    const char* p_groups;
    const char* p_extra_ips;  // accepted and not acted upon

    NDIlib_find_create_t(bool show_local_sources_ = true, const char* groups = nullptr,
                         const char* extra_ips = nullptr)
        : show_local_sources(show_local_sources_), p_groups(groups), p_extra_ips(extra_ips)
    {
    }
};

using NDIlib_find_instance_t = struct NDIlib_find_instance_type*;

NDIlib_find_instance_t NDIlib_find_create_v2(const NDIlib_find_create_t* p_create_settings);
void NDIlib_find_destroy(NDIlib_find_instance_t p_instance);
// Waits up to `timeout_in_ms` for the list of senders to change; true when it did.
bool NDIlib_find_wait_for_sources(NDIlib_find_instance_t p_instance, uint32_t timeout_in_ms);
// The senders seen now; the array stays valid until the next call on this finder or its
// destruction.
const NDIlib_source_t* NDIlib_find_get_current_sources(NDIlib_find_instance_t p_instance,
                                                       uint32_t* p_no_sources);
// This library's own: the groups of source `index` of the last NDIlib_find_get_current_sources.
const char* NDIlib_find_get_source_groups(NDIlib_find_instance_t p_instance, uint32_t index);
