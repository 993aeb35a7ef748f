#pragma once

// A receiver: one thread that finds the sender (by address, or by name in the registry), connects,
// says hello, and reads frames into a bounded queue until the connection ends; then it reconnects,
// to the failover source when the sender announced one. Application calls take frames from the
// queue and write metadata and tally to the socket.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Processing.NDI.Lib.h"
#include "log.h"
#include "message_reader.h"
#include "net.h"
#include "source_finder.h"

namespace vantor::ndi {

class Receiver {
public:
    explicit Receiver(const NDIlib_recv_create_v3_t& settings);
    ~Receiver();
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    NDIlib_frame_type_e capture(NDIlib_video_frame_v2_t* video,
                                NDIlib_audio_frame_interleaved_32f_t* audio,
                                NDIlib_metadata_frame_t* metadata, std::uint32_t timeout_ms);
    bool send_metadata(const NDIlib_metadata_frame_t& frame);
    bool set_tally(const NDIlib_tally_t& tally);
    int connections() const;
    void performance(NDIlib_recv_performance_t* total, NDIlib_recv_performance_t* dropped) const;
    void source_info(NDIlib_recv_source_info_t& info) const;

    // Frames kept until captured, per kind; beyond that the oldest of the kind is dropped.
    static constexpr std::size_t kQueuedVideo = 8;
    static constexpr std::size_t kQueuedAudio = 128;
    static constexpr std::size_t kQueuedMetadata = 1024;
    // The wait before connecting again: the first after a sender that answered (or while the
    // sender is not found yet); after each refusal (connection refused, or closed before the
    // sender answered the hello) twice the previous one, up to the last.
    static constexpr std::chrono::milliseconds kRetryFirst{100};
    static constexpr std::chrono::milliseconds kRetryLast{2000};

private:
    enum Counter { ProgramVideo, PreviewVideo, Audio, Counters };

    struct Frame {
        NDIlib_frame_type_e type = NDIlib_frame_type_none;
        NDIlib_video_frame_v2_t video;
        NDIlib_audio_frame_interleaved_32f_t audio;
        NDIlib_metadata_frame_t metadata;
    };

    void run();
    bool find_by_name(const std::string& name, std::string& address);
    void pause(std::chrono::milliseconds wait);
    void pause_after_refusal(std::chrono::milliseconds& wait);
    // True when the sender answered the hello (its source message arrived).
    bool serve(int fd, const std::string& address);
    bool handle(Message& message, std::string& error);
    void push_locked(Frame frame);
    void count_sequence_locked(Counter counter, std::uint32_t sequence);
    bool write_message(const std::vector<std::uint8_t>& bytes);
    static void release(const Frame& frame);

    std::string m_name;
    std::uint32_t m_streams = 0;
    WakeFd m_wake;
    std::atomic<bool> m_stop{false};

    // The socket for application writes; -1 while not connected.
    mutable std::mutex m_write_mutex;
    int m_fd = -1;
    NDIlib_tally_t m_tally;
    bool m_tally_set = false;

    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::string m_target_name;
    std::string m_target_address;
    bool m_connected = false;
    std::string m_source_name;
    std::string m_source_address;
    std::string m_vendor;
    std::string m_failover_name;
    std::string m_failover_address;
    std::deque<Frame> m_frames;
    NDIlib_recv_performance_t m_total;
    NDIlib_recv_performance_t m_dropped;
    bool m_have_sequence[Counters] = {};
    std::uint32_t m_last_sequence[Counters] = {};

    LineLimit m_peer_lines;                  // lines the sender can cause
    std::unique_ptr<SourceFinder> m_finder;  // the connection thread's only

    std::thread m_thread;  // last: started when everything above is ready
};

}  // namespace vantor::ndi
