#pragma once

#include <Processing.NDI.Lib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <queue>
#include <string>
#include <thread>

#include "NdiTransmitter/AudioSupport.h"
#include "NdiTransmitter/SpeedHqDevice.h"

// The encode/send pipeline: the two NDI senders, the SpeedHQ encoder device and the worker threads
// that move compressed pictures from the device to the main sender while encoding runs.
//
// Lifecycle (driven by the main program):
//   map_NdiTransmitter_mem -> creat_ndi_tx_instance -> { start_encode -> stop_encode }* ->
//   distroy_ndi_tx_instance -> unmap_NdiTransmitter_mem.
// Between start_encode and stop_encode five threads run: frame, program send, preview send,
// settings watcher, audio. Every start follows a complete stop; the destructor stops whatever
// still runs, so no thread outlives the object.
//
// Threads and what they share:
//   - main thread: start/stop, sets encoder_pix_format_420 before a start, reads tally_en and
//     DeTectStuck every loop pass;
//   - frame thread (wait_ndi_frame): device waits and reads, both queues, FrameSentCount;
//   - send threads (send_full, send_prvw): one queue each, the main sender, m_prev_video_frame;
//   - settings thread (encode_settings): bit rates, tally_en, NDIAudioMain, the stall check;
//   - audio thread: the two senders, NDIAudioMain.
// Every flag or counter written by one thread and read by another is an atomic. The format
// description (prog_info_frame, prev_info_frame, interlaced_field, skip_prev_frame_en) is written
// only while no worker runs.
//
// Members are grouped by the concern that uses them rather than packed by size: there is one object
// per program.
class NdiTransmitter {  // NOLINT(clang-analyzer-optin.performance.Padding)
public:
    // One compressed picture, shared between the frame thread and a send thread.
    struct frame_t {
        int xres = 0;
        int yres = 0;
        NDIlib_FourCC_video_type_e FourCC = NDIlib_FourCC_type_UYVY;
        int frame_rate_N = 0;
        int frame_rate_D = 0;
        float picture_aspect_ratio = 0.0F;
        NDIlib_frame_format_type_e frame_format_type = NDIlib_frame_format_type_progressive;
        std::unique_ptr<unsigned char[]> frame_data;  // compressed bytes, owned by the picture
        int frame_data_size = 0;
    };

    NdiTransmitter();
    ~NdiTransmitter();
    NdiTransmitter(const NdiTransmitter&) = delete;
    NdiTransmitter& operator=(const NdiTransmitter&) = delete;

    // --- encoder device and encode control (NdiTransmitter.cpp) ---
    // Opens the encoder device and prepares it (stop, low AC, switch buffers). The argument is not
    // used: the device is opened by its own path.
    void map_NdiTransmitter_mem(int map_fd);
    // Stops the encoder and closes the device.
    void unmap_NdiTransmitter_mem();
    // Configures the encoder for `vid_format` and starts the five threads.
    void start_encode(int vid_format, int video_uv_vu_en);
    // Stops and joins the threads in a fixed order and stops the encoder.
    void stop_encode();
    // Fills the program and preview descriptions and the two flags for `vid_format`; an unknown
    // code leaves them as they were.
    void setup_video_frame(int vid_format);
    void creat_encode_threads(int unused);
    // True when "/etc/vantor-VOutput-Interface" names the low-latency output interface.
    bool CheckCameraisLowLatency();

    // --- NDI senders (ndi_sender_setup.cpp) ---
    void creat_ndi_tx_instance();
    void distroy_ndi_tx_instance();
    // Reads `sFileName` line by line; `sData` ends holding the text after the last line break.
    // True when that text is not empty.
    bool get_source_data(std::string& sFileName, std::string& sData);

    // --- frame pipeline (frame_pipeline.cpp) ---
    void wait_ndi_frame();
    void send_full();
    void send_prvw();
    bool copy_full();
    bool copy_prvw();
    void add_frame(std::shared_ptr<frame_t>& frame, bool preview);

    // --- settings watcher and stall detection (encode_settings.cpp) ---
    void encode_settings();

    // --- encoder device ---
    SpeedHqDevice m_vantorspeedhqDevice;

    // --- format description, written only while no worker runs ---
    std::atomic<int> bit_rate{0};  // program target frame size in bytes
    NDIlib_video_frame_v2_t prog_info_frame;
    NDIlib_video_frame_v2_t prev_info_frame;
    bool skip_prev_frame_en = false;  // only every second frame yields a preview picture
    bool interlaced_field = false;    // program pictures are single fields
    int encoder_pix_format_420 = 0;   // 1: program in 4:2:0, otherwise 4:2:2 (set by main)

    // --- frame pipeline ---
    int init_frame_drop = 0;         // frames discarded since the last start (frame thread only)
    int init_frame_drop_count = 60;  // frames discarded after each start
    std::atomic<bool> tally_en{false};
    std::atomic<bool> DeTectStuck{false};
    std::atomic<int> FrameSentCount{0};  // frames announced by the device
    int FrameSentCountComp = 0;          // settings thread only
    int DeTectStuckCount = 0;            // settings thread only

    // --- senders ---
    NDIlib_send_instance_t ndi_tx_inst = nullptr;
    NDIlib_send_create_t ndi_tx;
    NDIlib_source_t p_failover_source;
    NDIlib_send_create_t comms_send;
    NDIlib_send_instance_t comms_inst = nullptr;

    // --- threads and queues ---
    std::thread encode_settings_thread;
    std::mutex m_ndi_full_send_queue_lock;
    std::mutex m_ndi_prvw_send_queue_lock;
    std::condition_variable m_ndi_full_send_queue_condvar;
    std::condition_variable m_ndi_prvw_send_queue_condvar;
    std::queue<std::shared_ptr<frame_t>> m_ndi_full_send_queue;
    std::queue<std::shared_ptr<frame_t>> m_ndi_prvw_send_queue;
    std::size_t max_queue_size = 3;
    // [0]: last preview picture handed to NDI, [1]: last program picture. Each is written only by
    // its own send thread.
    std::shared_ptr<frame_t> m_prev_video_frame[2];
    std::thread wait_ndi_frame_thread;
    std::thread send_ndi_frame_prog_thread;
    std::thread send_ndi_frame_prev_thread;

    // --- audio capture and send (audio_send.cpp) ---
    // Thread body: captures 10 ms blocks from the headset input and sends each on the comms
    // sender and, while NDIAudioMain is set, on the main sender; runs while audio_en is set.
    void send_audio_frame();
    // Sets audio_en and starts the audio thread.
    void start_audio();
    // Clears audio_en and joins the audio thread. The thread leaves after the read in progress
    // (one block); a read still blocked after audio_stop_grace (the source delivers nothing) is
    // interrupted, so the stop never waits on the source.
    void stop_audio();
    // True from start_audio until the audio thread has ended (by itself or by a stop).
    bool audio_thread_running();

    AudioSupport ndi_AudioSupport;
    std::atomic<float> AudioEncGain{0.0F};
    std::atomic<bool> NDIAudioMain{true};  // audio also goes on the main sender
    std::thread send_audio_frame_thread;
    std::atomic<bool> audio_en{false};
    // How long a stop lets the audio thread's read in progress end by itself.
    std::chrono::milliseconds audio_stop_grace{100};

    std::atomic<bool> encodeRunning{false};  // frame and settings threads keep running

    // --- timing (tests shorten these) ---
    // Period of the settings watcher: bit rates, switches and one stall check per period.
    std::chrono::milliseconds settings_period{1000};
    // Pause after a failed frame wait before the next one, so that a missing or failing device
    // does not spin a core.
    std::chrono::milliseconds frame_wait_retry_pause{100};

private:
    // Selects a picture (request 10 with `selector`), asks its length and reads its bytes into
    // `frame`. False, with nothing read, when a request fails or the picture is too short to hold
    // a header, longer than a picture of its size can be (4 bytes a pixel, at most a device
    // read) or cannot be allocated; false when the read fails or comes up short.
    bool read_picture(std::int32_t selector, frame_t& frame);
    // Waits up to `pause`, returning early once encodeRunning is cleared; true while it is set.
    bool pause_while_running(std::chrono::milliseconds pause);
    // After encodeRunning was cleared: true once the frame thread has left its loop, false when it
    // has not within `grace` (its frame wait has not returned).
    bool frame_thread_leaves_within(std::chrono::milliseconds grace);

    // Waits up to `pause`, returning early once audio_en is cleared; true while it is set.
    bool pause_while_audio(std::chrono::milliseconds pause);
    // Sends the converted block on the comms sender and, when routed there, the main sender.
    void send_audio_block();

    // Wake a pausing audio thread as soon as audio stops, and the stop once the thread is done.
    std::mutex m_audio_lock;
    std::condition_variable m_audio_condvar;
    bool m_audio_thread_done = true;  // guarded by m_audio_lock

    // Wake the settings watcher and a pausing frame thread as soon as encoding stops, and the stop
    // once the frame thread leaves its loop.
    std::mutex m_pause_lock;
    std::condition_variable m_pause_condvar;
    bool m_frame_loop_left = true;  // guarded by m_pause_lock
};
