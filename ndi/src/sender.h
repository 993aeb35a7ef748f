#pragma once

// A sender: a listening TCP socket, one connection per receiver, and one I/O thread that accepts,
// reads what receivers send (hello, metadata, tally) and writes each connection's queue with
// non-blocking sockets. Callers only put messages into the queues and wake the I/O thread, so no
// call waits for a receiver. Each queue is bounded per kind of message: a receiver that does not
// keep up loses its oldest queued pictures, audio blocks or metadata, never anything of another
// receiver's.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Processing.NDI.Lib.h"
#include "codec.h"
#include "log.h"
#include "mdns_announce.h"
#include "message_reader.h"
#include "net.h"
#include "out_message.h"
#include "registry.h"

namespace vantor::ndi {

class Sender {
public:
    // Null (and one line saying why) when no listening socket can be had.
    static std::unique_ptr<Sender> create(const NDIlib_send_create_t& settings,
                                          const char* config_text);
    ~Sender();
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;

    void send_video_async(const NDIlib_video_frame_v2_t* frame);
    void send_video(const NDIlib_video_frame_v2_t& frame);
    void send_audio(const NDIlib_audio_frame_interleaved_32f_t& frame);
    void send_metadata(const NDIlib_metadata_frame_t& frame);
    NDIlib_frame_type_e capture(NDIlib_metadata_frame_t* frame, std::uint32_t timeout_ms);
    bool get_tally(NDIlib_tally_t& tally, std::uint32_t timeout_ms);
    int connections(std::uint32_t timeout_ms);
    void add_connection_metadata(const NDIlib_metadata_frame_t& frame);
    void clear_connection_metadata();
    void set_failover(const NDIlib_source_t* source);
    // The full name and the address the sender can be reached at now, worked out on each call (an
    // interface may get its address after the sender was created). The record stays valid until
    // the sender is destroyed.
    const NDIlib_source_t* source() const;
    // Borrowed pictures copied because a connection still had one queued or half sent.
    std::int64_t copies() const { return m_copies.load(); }

    // Bounds of each connection's queue, per kind of message.
    static constexpr std::size_t kQueuedVideoPerStream = 3;
    static constexpr std::size_t kQueuedAudio = 64;
    static constexpr std::size_t kQueuedMetadata = 256;
    // Metadata from receivers waiting for NDIlib_send_capture.
    static constexpr std::size_t kCapturedMetadata = 256;
    static constexpr std::size_t kMaxConnections = 64;
    // Of those, at most this many from one IPv4 address, and at most this many still before their
    // hello: one host, or many half-open peers, cannot take every place.
    static constexpr std::size_t kMaxConnectionsPerAddress = 16;
    static constexpr std::size_t kMaxBeforeHello = 16;
    static constexpr std::chrono::seconds kHelloTimeout{5};
    // Messages read from one receiver per interval; a receiver sending more is not read until the
    // interval ends (TCP holds it back), so one cannot keep the I/O thread busy.
    static constexpr std::uint32_t kMessagesPerInterval = 256;
    static constexpr std::chrono::seconds kMessageInterval{1};
    // How long accepting pauses when the process is out of descriptors or memory.
    static constexpr std::chrono::milliseconds kAcceptBackOff{100};

private:
    struct Connection {
        UniqueFd fd;
        std::string peer;
        std::string host;      // the peer's IPv4 address, without the port
        std::uint64_t id = 0;  // unique among this sender's connections
        std::chrono::steady_clock::time_point accepted;
        MessageReader reader{Direction::ToSender};
        // The I/O thread's only: the current interval, what was read in it, and whether reading
        // was paused yet.
        std::chrono::steady_clock::time_point interval_start;
        std::uint32_t messages_in_interval = 0;
        bool reported_pause = false;
        // The I/O thread's only: when anything last arrived from the receiver, and when the last
        // heartbeat was queued for it.
        std::chrono::steady_clock::time_point last_heard;
        std::chrono::steady_clock::time_point heartbeat_queued;
        // Guarded by Sender::m_mutex:
        bool greeted = false;
        std::uint32_t streams = 0;
        NDIlib_tally_t tally;
        std::deque<std::shared_ptr<OutMessage>> queue;
        std::size_t sent = 0;  // bytes of queue.front() already sent
        std::size_t queued[OutMessage::kKinds] = {};
        bool reported_metadata_loss = false;
    };

    // Metadata from a receiver waiting for capture, with the connection it came from.
    struct Captured {
        std::string text;
        std::int64_t timecode = 0;
        std::uint64_t from = 0;
    };

    Sender() = default;

    std::shared_ptr<OutMessage> video_message(const NDIlib_video_frame_v2_t& frame, bool borrow);
    void broadcast_locked(const std::shared_ptr<OutMessage>& message);
    void enqueue_locked(Connection& connection, const std::shared_ptr<OutMessage>& message);
    void update_tally_locked();
    std::size_t greeted_locked() const;
    std::string refusal_locked(const std::string& host) const;
    void capture_locked(Captured captured);

    void io_loop();
    // Queues the heartbeats due and returns when the next one is due or a receiver falls silent.
    std::chrono::steady_clock::time_point
    keep_alive_locked(std::chrono::steady_clock::time_point now);
    void accept_all();
    bool read_from(Connection& connection, std::string& reason);
    static bool reading_paused(const Connection& connection,
                               std::chrono::steady_clock::time_point now);
    bool budget_left(Connection& connection, std::chrono::steady_clock::time_point now);
    void count_message(Connection& connection);
    bool handle(Connection& connection, Message& message, std::string& reason);
    bool write_to(Connection& connection, std::string& reason);
    void close_connection(Connection* connection, const std::string& reason);
    void warn_once(std::atomic<bool>& warned, const std::string& text) const;

    std::string m_name;
    std::string m_groups;
    std::string m_vendor;
    std::string m_listen_address;
    std::uint16_t m_port = 0;
    // Called on avahi's thread when the announced name changes (a collision, a name too long).
    void renamed(const std::string& name, const std::string& full_name);

    // Every full name and address source() reported, each with its record; only ever appended
    // to, so a record handed out stays valid (both change seldom, so the list stays short).
    struct Published {
        std::string full_name;
        std::string address;
        NDIlib_source_t source;
    };
    mutable std::mutex m_source_mutex;
    std::string m_full_name;  // "<host> (<name>)", as announced; guarded by m_source_mutex
    mutable std::deque<Published> m_published;
    UniqueFd m_listen;
    WakeFd m_wake;
    std::unique_ptr<RegistryEntry> m_registry;
    std::unique_ptr<MdnsAnnouncement> m_announcement;
    std::atomic<bool> m_stop{false};
    std::chrono::steady_clock::time_point m_accept_resume{};  // the I/O thread's only
    std::uint64_t m_next_id = 0;                              // the I/O thread's only
    LineLimit m_peer_lines;                                   // lines receivers can cause
    std::thread m_thread;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;  // captured metadata, tally, connections
    std::vector<std::unique_ptr<Connection>> m_connections;
    std::vector<std::shared_ptr<OutMessage>> m_connection_metadata;
    std::shared_ptr<OutMessage> m_failover;
    const std::shared_ptr<OutMessage> m_heartbeat =
        std::make_shared<OutMessage>(OutMessage::Kind::Control, encode_heartbeat());
    std::deque<Captured> m_captured;
    std::string m_announced_name;  // the name the sender introduces itself with
    bool m_reported_capture_loss = false;
    NDIlib_tally_t m_tally;
    bool m_tally_changed = false;
    std::uint32_t m_program_sequence = 0;
    std::uint32_t m_preview_sequence = 0;
    std::uint32_t m_audio_sequence = 0;

    std::atomic<bool> m_warned_video{false};
    std::atomic<std::int64_t> m_copies{0};
    std::atomic<bool> m_warned_audio{false};

    // Serialises asynchronous video sends and holds the picture still borrowed from the caller.
    std::mutex m_async_mutex;
    std::shared_ptr<OutMessage> m_borrowed;
};

}  // namespace vantor::ndi
