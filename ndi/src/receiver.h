#pragma once

// A receiver: one thread that finds the sender (by address, or by name in the registry), connects,
// says hello, and reads frames into a bounded queue until the connection ends; then it reconnects:
// to the same source first when the receiver itself ended the connection, otherwise to the
// failover source when the sender announced one. While on the failover source it keeps trying the
// original one and returns as soon as that answers. Both ends send heartbeats, and a sender
// silent for kSilenceLimit is given up. Application calls take frames from the queue and write
// metadata and tally to the socket.

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
    // While on the failover source: how often the original source is tried, and how long one try
    // may take to be answered.
    static constexpr std::chrono::milliseconds kProbeInterval{1000};
    static constexpr std::chrono::milliseconds kProbeTimeout{1000};

private:
    enum Counter { ProgramVideo, PreviewVideo, Audio, Counters };

    struct Frame {
        NDIlib_frame_type_e type = NDIlib_frame_type_none;
        NDIlib_video_frame_v2_t video;
        NDIlib_audio_frame_interleaved_32f_t audio;
        NDIlib_metadata_frame_t metadata;
    };

    // How a connection ended.
    enum class Ending {
        Stopped,   // the receiver is being destroyed
        Closed,    // by the sender, or given up for liveness, before it answered
        Answered,  // the same after the sender answered the hello
        Own,       // by the receiver: a malformed message, or its own write failed
        Original,  // the original source answered while on the failover source
    };
    // A try of the original source while on the failover one, run inside the poll loop.
    struct Probe {
        UniqueFd fd;
        std::string address;
        bool greeted = false;
        std::chrono::steady_clock::time_point started;
    };

    void run();
    bool find_by_name(const std::string& name, std::string& address);
    void pause(std::chrono::milliseconds wait);
    void pause_after_refusal(std::chrono::milliseconds& wait);
    // Sends the hello (and the tally when set) on `fd`; when `use` is set, application writes go
    // to `fd` from then on.
    bool greet(int fd, bool use);
    // Application writes go to `fd`, a probe's connection already greeted, from now on.
    bool adopt(int fd);
    Ending serve(int fd, const std::string& address, Probe& probe);
    void start_probe(Probe& probe);
    // True once the probe's connection is answered; clears the probe when it failed.
    bool advance_probe(Probe& probe, short revents);
    // Where to go after the connection or an attempt ended: the failover source, or back.
    void move_to_failover_locked();
    void return_to_original_locked();
    bool handle(Message& message, std::string& error);
    void push_locked(Frame frame);
    void count_sequence_locked(Counter counter, std::uint32_t sequence);
    bool write_message(const std::vector<std::uint8_t>& bytes);
    static void release(const Frame& frame);

    std::string m_name;
    std::uint32_t m_streams = 0;
    std::string m_original_name;
    std::string m_original_address;
    // The receiver ended its connection itself (a write failed); read by the connection thread.
    std::atomic<bool> m_own_ending{false};
    // The connection thread's only: on the failover source, the failover the original source
    // announced, and whether the next attempt goes to the same source once more.
    bool m_on_failover = false;
    std::string m_fallback_name;
    std::string m_fallback_address;
    bool m_retry_same = false;
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
