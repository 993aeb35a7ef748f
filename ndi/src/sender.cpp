#include "sender.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

#include "codec.h"
#include "config.h"
#include "log.h"

namespace vantor::ndi {

namespace {

std::size_t index_of(OutMessage::Kind kind)
{
    return static_cast<std::size_t>(kind);
}

std::size_t queue_limit(OutMessage::Kind kind)
{
    switch (kind) {
    case OutMessage::Kind::ProgramVideo:
    case OutMessage::Kind::PreviewVideo:
        return Sender::kQueuedVideoPerStream;
    case OutMessage::Kind::Audio:
        return Sender::kQueuedAudio;
    case OutMessage::Kind::Metadata:
        return Sender::kQueuedMetadata;
    case OutMessage::Kind::Control:
        break;
    }
    return SIZE_MAX;
}

bool wants(std::uint32_t streams, OutMessage::Kind kind)
{
    switch (kind) {
    case OutMessage::Kind::ProgramVideo:
        return (streams & kStreamProgramVideo) != 0;
    case OutMessage::Kind::PreviewVideo:
        return (streams & kStreamPreviewVideo) != 0;
    case OutMessage::Kind::Audio:
        return (streams & kStreamAudio) != 0;
    case OutMessage::Kind::Metadata:
    case OutMessage::Kind::Control:
        break;
    }
    return true;
}

std::int64_t timecode_of(std::int64_t requested)
{
    return requested == NDIlib_send_timecode_synthesize ? now_100ns() : requested;
}

constexpr const char* kEveryAddress = "0.0.0.0";

// The address the sender listens on: $VANTOR_NDI_ADDRESS (an IPv4 address, "127.0.0.1" for the
// loopback interface only), or every interface, as a camera on a studio network needs.
std::string listen_address()
{
    const char* chosen = std::getenv("VANTOR_NDI_ADDRESS");
    return (chosen != nullptr && *chosen != '\0') ? chosen : kEveryAddress;
}

}  // namespace

std::unique_ptr<Sender> Sender::create(const NDIlib_send_create_t& settings,
                                       const char* config_text)
{
    std::unique_ptr<Sender> sender(new Sender());
    sender->m_name = settings.p_ndi_name != nullptr ? settings.p_ndi_name : "NDI Sender";
    sender->m_groups = settings.p_groups != nullptr ? settings.p_groups : "";

    const SenderConfig config = parse_sender_config(config_text);
    if (!config.valid) {
        log_line("sender '" + sender->m_name + "': configuration text is not JSON (" +
                 config.error + "); using the defaults");
    }
    sender->m_vendor = config.vendor_name;

    if (!sender->m_wake.valid()) {
        log_line("sender '" + sender->m_name + "': cannot create its wake-up descriptor");
        return nullptr;
    }
    const std::string address = listen_address();
    std::uint16_t port = 0;
    std::string error;
    sender->m_listen = listen_tcp(address, port, error);
    if (!sender->m_listen) {
        log_line("sender '" + sender->m_name + "' not created: " + error);
        return nullptr;
    }
    int interface_index = 0;
    const std::string reachable = reachable_address(address, interface_index);
    sender->m_listen_address = address;
    sender->m_port = port;
    sender->m_full_name = host_name() + " (" + sender->m_name + ")";
    sender->m_announced_name = sender->m_name;
    // On the same machine the address of the moment serves: 127.0.0.1 reaches every address.
    sender->m_registry = std::make_unique<RegistryEntry>(sender->m_name, sender->m_groups,
                                                         reachable + ":" + std::to_string(port));
    // Nobody elsewhere can reach a sender on the loopback interface: it is not announced. One
    // listening on every address is, also before any interface has one (DHCP late, cable out):
    // the daemon publishes the host's addresses as they come and go.
    if (address == kEveryAddress || !is_loopback(reachable)) {
        Sender* raw = sender.get();
        sender->m_announcement = std::make_unique<MdnsAnnouncement>(
            "sender '" + sender->m_name + "'", host_name(), sender->m_name, port, sender->m_groups,
            interface_index, [raw](const std::string& name, const std::string& full_name) {
                raw->renamed(name, full_name);
            });
    }
    sender->m_thread = std::thread([raw = sender.get()] { raw->io_loop(); });
    return sender;
}

const NDIlib_source_t* Sender::source() const
{
    int interface_index = 0;
    const std::string address =
        reachable_address(m_listen_address, interface_index) + ":" + std::to_string(m_port);
    const std::lock_guard<std::mutex> lock(m_source_mutex);
    auto it = std::find_if(m_published.begin(), m_published.end(), [&](const Published& entry) {
        return entry.full_name == m_full_name && entry.address == address;
    });
    if (it == m_published.end()) {
        m_published.push_back({m_full_name, address, NDIlib_source_t()});
        it = std::prev(m_published.end());
        it->source = NDIlib_source_t(it->full_name.c_str(), it->address.c_str());
    }
    return &it->source;
}

void Sender::renamed(const std::string& name, const std::string& full_name)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_announced_name = name;
    }
    const std::lock_guard<std::mutex> lock(m_source_mutex);
    m_full_name = full_name;
}

Sender::~Sender()
{
    m_announcement.reset();
    m_stop.store(true);
    m_wake.wake();
    if (m_thread.joinable()) {
        m_thread.join();
    }
    // The I/O thread has ended: nothing reads a borrowed picture any more.
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_connections.clear();
}

// --- calls from the application ---------------------------------------------------------------

std::shared_ptr<OutMessage> Sender::video_message(const NDIlib_video_frame_v2_t& frame, bool borrow)
{
    const std::int64_t size = video_data_size(frame);
    if (size < 0) {
        warn_once(m_warned_video,
                  "sender '" + m_name + "': video frame with an unusable size dropped (FourCC " +
                      std::to_string(frame.FourCC) + ", " + std::to_string(frame.xres) + "x" +
                      std::to_string(frame.yres) + ")");
        return nullptr;
    }
    const auto data_size = static_cast<std::size_t>(size);
    std::vector<std::uint8_t> copy;
    if (!borrow && data_size > 0) {
        copy.assign(frame.p_data, frame.p_data + data_size);
    }
    const bool preview = is_lowest_bandwidth(frame.FourCC);
    const std::int64_t timecode = timecode_of(frame.timecode);

    const std::lock_guard<std::mutex> lock(m_mutex);
    std::uint32_t& sequence = preview ? m_preview_sequence : m_program_sequence;
    auto message = std::make_shared<OutMessage>(
        preview ? OutMessage::Kind::PreviewVideo : OutMessage::Kind::ProgramVideo,
        encode_video_head(frame, static_cast<std::uint32_t>(data_size), sequence++, timecode,
                          now_100ns()));
    if (borrow) {
        message->borrow_body(frame.p_data, data_size);
    } else {
        message->own_body(std::move(copy));
    }
    broadcast_locked(message);
    return message;
}

void Sender::send_video_async(const NDIlib_video_frame_v2_t* frame)
{
    const std::lock_guard<std::mutex> async_lock(m_async_mutex);
    std::shared_ptr<OutMessage> previous = std::move(m_borrowed);
    m_borrowed = nullptr;
    if (frame != nullptr) {
        m_borrowed = video_message(*frame, true);
    }
    // The previous picture's buffer goes back to the caller now. Where a connection still has that
    // picture queued (or half sent), the rest is sent from a copy.
    if (previous && previous.use_count() > 1) {
        previous->keep_own_copy();
        m_copies.fetch_add(1);
    } else if (previous) {
        previous->end_borrow();
    }
}

void Sender::send_video(const NDIlib_video_frame_v2_t& frame)
{
    video_message(frame, false);
}

void Sender::send_audio(const NDIlib_audio_frame_interleaved_32f_t& frame)
{
    if (frame.no_channels < 1 || frame.no_channels > 64 || frame.no_samples < 0 ||
        frame.no_samples > 192000 || (frame.p_data == nullptr && frame.no_samples > 0)) {
        warn_once(m_warned_audio, "sender '" + m_name +
                                      "': audio block with an unusable layout dropped (" +
                                      std::to_string(frame.no_channels) + " channels, " +
                                      std::to_string(frame.no_samples) + " samples)");
        return;
    }
    const std::int64_t timecode = timecode_of(frame.timecode);
    const std::lock_guard<std::mutex> lock(m_mutex);
    broadcast_locked(std::make_shared<OutMessage>(
        OutMessage::Kind::Audio, encode_audio(frame, m_audio_sequence++, timecode, now_100ns())));
}

void Sender::send_metadata(const NDIlib_metadata_frame_t& frame)
{
    auto message = std::make_shared<OutMessage>(
        OutMessage::Kind::Metadata,
        encode_metadata(metadata_text(frame), timecode_of(frame.timecode)));
    const std::lock_guard<std::mutex> lock(m_mutex);
    broadcast_locked(message);
}

NDIlib_frame_type_e Sender::capture(NDIlib_metadata_frame_t* frame, std::uint32_t timeout_ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                       [this] { return !m_captured.empty(); });
    if (m_captured.empty() || frame == nullptr) {
        return NDIlib_frame_type_none;
    }
    const Captured captured = std::move(m_captured.front());
    m_captured.pop_front();
    lock.unlock();
    fill_metadata_frame(*frame, captured.text, captured.timecode);
    return NDIlib_frame_type_metadata;
}

bool Sender::get_tally(NDIlib_tally_t& tally, std::uint32_t timeout_ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                       [this] { return m_tally_changed; });
    const bool changed = m_tally_changed;
    m_tally_changed = false;
    tally = m_tally;
    return changed;
}

int Sender::connections(std::uint32_t timeout_ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                       [this] { return greeted_locked() > 0; });
    return static_cast<int>(greeted_locked());
}

void Sender::add_connection_metadata(const NDIlib_metadata_frame_t& frame)
{
    auto message = std::make_shared<OutMessage>(
        OutMessage::Kind::Control,
        encode_metadata(metadata_text(frame), timecode_of(frame.timecode)));
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_connection_metadata.push_back(message);
    broadcast_locked(message);
}

void Sender::clear_connection_metadata()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_connection_metadata.clear();
}

void Sender::set_failover(const NDIlib_source_t* source)
{
    const std::string name =
        source != nullptr && source->p_ndi_name != nullptr ? source->p_ndi_name : "";
    const std::string address =
        source != nullptr && source->p_url_address != nullptr ? source->p_url_address : "";
    auto message =
        std::make_shared<OutMessage>(OutMessage::Kind::Control, encode_failover(name, address));
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_failover = name.empty() && address.empty() ? nullptr : message;
    broadcast_locked(message);
}

void Sender::broadcast_locked(const std::shared_ptr<OutMessage>& message)
{
    for (const auto& connection : m_connections) {
        enqueue_locked(*connection, message);
    }
    m_wake.wake();
}

void Sender::enqueue_locked(Connection& connection, const std::shared_ptr<OutMessage>& message)
{
    if (!connection.greeted || !wants(connection.streams, message->kind())) {
        return;
    }
    const std::size_t kind = index_of(message->kind());
    if (connection.queued[kind] >= queue_limit(message->kind())) {
        // Drop the oldest of this kind that has not started to go out (the front may be half sent).
        for (auto it = std::next(connection.queue.begin()); it != connection.queue.end(); ++it) {
            if ((*it)->kind() == message->kind()) {
                connection.queue.erase(it);
                --connection.queued[kind];
                break;
            }
        }
        if (message->kind() == OutMessage::Kind::Metadata && !connection.reported_metadata_loss) {
            connection.reported_metadata_loss = true;
            m_peer_lines.line("sender '" + m_name + "': receiver " + connection.peer +
                              " does not keep up; its oldest metadata is dropped");
        }
    }
    connection.queue.push_back(message);
    ++connection.queued[kind];
}

void Sender::update_tally_locked()
{
    NDIlib_tally_t tally;
    for (const auto& connection : m_connections) {
        tally.on_program = tally.on_program || connection->tally.on_program;
        tally.on_preview = tally.on_preview || connection->tally.on_preview;
    }
    if (tally.on_program != m_tally.on_program || tally.on_preview != m_tally.on_preview) {
        m_tally = tally;
        m_tally_changed = true;
        m_changed.notify_all();
    }
}

std::size_t Sender::greeted_locked() const
{
    return static_cast<std::size_t>(std::count_if(m_connections.begin(), m_connections.end(),
                                                  [](const auto& c) { return c->greeted; }));
}

// Why a new connection from `host` is refused; empty when it is taken.
std::string Sender::refusal_locked(const std::string& host) const
{
    std::size_t from_host = 0;
    std::size_t before_hello = 0;
    for (const auto& connection : m_connections) {
        from_host += connection->host == host ? 1 : 0;
        before_hello += connection->greeted ? 0 : 1;
    }
    struct Bound {
        std::size_t count;
        std::size_t limit;
        const char* what;
    };
    const Bound bounds[] = {
        {m_connections.size(), kMaxConnections, " connections"},
        {from_host, kMaxConnectionsPerAddress, " connections from this address"},
        {before_hello, kMaxBeforeHello, " connections before their hello"},
    };
    for (const Bound& bound : bounds) {
        if (bound.count >= bound.limit) {
            return "already " + std::to_string(bound.count) + bound.what;
        }
    }
    return {};
}

// Queues metadata for capture. When the queue is full, the oldest entry of the connection holding
// the most entries goes: a chatty receiver pushes out its own metadata, not another's.
void Sender::capture_locked(Captured captured)
{
    if (m_captured.size() >= kCapturedMetadata) {
        std::map<std::uint64_t, std::size_t> held;
        for (const Captured& entry : m_captured) {
            ++held[entry.from];
        }
        const auto most =
            std::max_element(held.begin(), held.end(),
                             [](const auto& a, const auto& b) { return a.second < b.second; });
        const std::uint64_t from = most->first;
        m_captured.erase(
            std::find_if(m_captured.begin(), m_captured.end(),
                         [from](const Captured& entry) { return entry.from == from; }));
        if (!m_reported_capture_loss) {
            m_reported_capture_loss = true;
            log_line("sender '" + m_name +
                     "': metadata from receivers is not being captured; the oldest of the "
                     "receiver holding the most is dropped");
        }
    }
    m_captured.push_back(std::move(captured));
    m_changed.notify_all();
}

void Sender::warn_once(std::atomic<bool>& warned, const std::string& text) const
{
    if (!warned.exchange(true)) {
        log_line(text);
    }
}

// --- the I/O thread ---------------------------------------------------------------------------

void Sender::io_loop()
{
    // Named, so that the thread can be told apart in top and in the tests.
    ::pthread_setname_np(::pthread_self(), "ndi-send-io");
    std::vector<pollfd> fds;
    std::vector<Connection*> polled;
    while (!m_stop.load()) {
        fds.clear();
        polled.clear();
        fds.push_back({m_wake.fd(), POLLIN, 0});
        const auto before = std::chrono::steady_clock::now();
        const bool accepting = before >= m_accept_resume;
        fds.push_back({m_listen.get(), static_cast<short>(accepting ? POLLIN : 0), 0});
        bool waiting_for_hello = false;
        auto wake_at = std::chrono::steady_clock::time_point::max();
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            wake_at = keep_alive_locked(before);
            for (const auto& connection : m_connections) {
                const bool paused = reading_paused(*connection, before);
                if (paused) {
                    wake_at = std::min(wake_at, connection->interval_start + kMessageInterval);
                }
                const auto events = static_cast<short>((paused ? 0 : POLLIN) |
                                                       (connection->queue.empty() ? 0 : POLLOUT));
                fds.push_back({connection->fd.get(), events, 0});
                polled.push_back(connection.get());
                waiting_for_hello = waiting_for_hello || !connection->greeted;
            }
        }
        if (waiting_for_hello) {
            wake_at = std::min(wake_at, before + std::chrono::seconds(1));
        }
        if (!accepting) {
            wake_at = std::min(wake_at, m_accept_resume);
        }
        const int timeout_ms =
            wake_at == std::chrono::steady_clock::time_point::max()
                ? -1
                : static_cast<int>(
                      std::chrono::duration_cast<std::chrono::milliseconds>(wake_at - before)
                          .count() +
                      1);
        const int ready = ::poll(fds.data(), fds.size(), timeout_ms);
        if (ready < 0 && errno != EINTR) {
            log_line("sender '" + m_name + "': poll failed: " + std::strerror(errno));
            break;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            m_wake.drain();
        }
        const auto now = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < polled.size(); ++i) {
            Connection* connection = polled[i];
            const short revents = fds[i + 2].revents;
            std::string reason;
            bool keep = true;
            if ((revents & POLLIN) != 0) {
                connection->last_heard = now;
            }
            if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                // A connection not being read that fails is closed (poll reports it until then).
                keep = !reading_paused(*connection, now) && read_from(*connection, reason);
            }
            if (keep && (revents & POLLOUT) != 0) {
                keep = write_to(*connection, reason);
            }
            if (keep && !connection->greeted && now - connection->accepted > kHelloTimeout) {
                keep = false;
                reason = "no hello within " + std::to_string(kHelloTimeout.count()) + " s";
            }
            if (keep && connection->greeted && now - connection->last_heard > kSilenceLimit) {
                // Its program hangs, or the path to it is gone: TCP may not see either for long.
                keep = false;
                reason = "nothing heard for " + std::to_string(kSilenceLimit.count()) + " ms";
            }
            if (!keep) {
                close_connection(connection, reason);
            }
        }
        if ((fds[1].revents & POLLIN) != 0) {
            accept_all();
        }
    }
}

std::chrono::steady_clock::time_point
Sender::keep_alive_locked(std::chrono::steady_clock::time_point now)
{
    auto next = std::chrono::steady_clock::time_point::max();
    for (const auto& connection : m_connections) {
        if (!connection->greeted) {
            continue;
        }
        // Anything queued goes out anyway; a heartbeat only fills a quiet interval.
        if (connection->queue.empty() && now - connection->heartbeat_queued >= kHeartbeatInterval) {
            enqueue_locked(*connection, m_heartbeat);
            connection->heartbeat_queued = now;
        }
        next = std::min({next, connection->heartbeat_queued + kHeartbeatInterval,
                         connection->last_heard + kSilenceLimit});
    }
    return next;
}

void Sender::accept_all()
{
    for (;;) {
        UniqueFd fd(::accept4(m_listen.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                // Out of descriptors or memory: the waiting connection stays in the backlog and
                // the listening socket stays readable, so accepting pauses instead of spinning.
                m_accept_resume = std::chrono::steady_clock::now() + kAcceptBackOff;
                m_peer_lines.line("sender '" + m_name + "': cannot accept a receiver (" +
                                  std::strerror(errno) + "); trying again in " +
                                  std::to_string(kAcceptBackOff.count()) + " ms");
            }
            return;
        }
        const int on = 1;
        ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        set_liveness(fd.get());
        auto connection = std::make_unique<Connection>();
        connection->id = ++m_next_id;
        connection->peer = peer_address(fd.get());
        connection->host = connection->peer.substr(0, connection->peer.rfind(':'));
        connection->fd = std::move(fd);
        connection->accepted = std::chrono::steady_clock::now();
        connection->last_heard = connection->accepted;
        connection->heartbeat_queued = connection->accepted;
        const std::lock_guard<std::mutex> lock(m_mutex);
        const std::string refusal = refusal_locked(connection->host);
        if (!refusal.empty()) {
            m_peer_lines.line("sender '" + m_name + "': receiver " + connection->peer +
                              " refused: " + refusal);
            continue;
        }
        m_connections.push_back(std::move(connection));
    }
}

bool Sender::reading_paused(const Connection& connection, std::chrono::steady_clock::time_point now)
{
    return connection.messages_in_interval >= kMessagesPerInterval &&
           now < connection.interval_start + kMessageInterval;
}

// Whether the connection may send another message in this interval (a new interval starts when
// the last one is over).
bool Sender::budget_left(Connection& connection, std::chrono::steady_clock::time_point now)
{
    if (now >= connection.interval_start + kMessageInterval) {
        connection.interval_start = now;
        connection.messages_in_interval = 0;
    }
    return connection.messages_in_interval < kMessagesPerInterval;
}

// Counts a message read; the one that spends the budget pauses reading (said once per connection).
void Sender::count_message(Connection& connection)
{
    ++connection.messages_in_interval;
    if (connection.messages_in_interval == kMessagesPerInterval && !connection.reported_pause) {
        connection.reported_pause = true;
        m_peer_lines.line("sender '" + m_name + "': receiver " + connection.peer + " sent " +
                          std::to_string(kMessagesPerInterval) + " messages within " +
                          std::to_string(kMessageInterval.count()) +
                          " s; reading it pauses until then");
    }
}

bool Sender::read_from(Connection& connection, std::string& reason)
{
    const auto now = std::chrono::steady_clock::now();
    // A bounded number of messages per pass, so that one chatty receiver cannot starve the rest.
    for (int count = 0; count < 64 && budget_left(connection, now); ++count) {
        Message message;
        switch (connection.reader.read(connection.fd.get(), message, reason)) {
        case MessageReader::Status::Message:
            count_message(connection);
            if (!handle(connection, message, reason)) {
                return false;
            }
            break;
        case MessageReader::Status::Pending:
            return true;
        case MessageReader::Status::Closed:
            reason.clear();
            return false;
        case MessageReader::Status::Failed:
            return false;
        }
    }
    return true;
}

bool Sender::handle(Connection& connection, Message& message, std::string& reason)
{
    // Only this thread writes `greeted`, so it reads it without the lock.
    const bool greeted = connection.greeted;
    if (message.type == MessageType::Hello) {
        if (greeted) {
            reason = "second hello";
            return false;
        }
        std::uint32_t streams = 0;
        std::string name;
        if (!decode_hello(message.payload, streams, name, reason)) {
            return false;
        }
        const std::lock_guard<std::mutex> lock(m_mutex);
        connection.greeted = true;
        connection.streams = streams;
        enqueue_locked(connection,
                       std::make_shared<OutMessage>(OutMessage::Kind::Control,
                                                    encode_source(m_announced_name, m_vendor)));
        if (m_failover) {
            enqueue_locked(connection, m_failover);
        }
        for (const auto& metadata : m_connection_metadata) {
            enqueue_locked(connection, metadata);
        }
        m_changed.notify_all();
        return true;
    }
    if (!greeted) {
        reason = type_name(static_cast<std::uint8_t>(message.type)) + " message before hello";
        return false;
    }
    if (message.type == MessageType::Heartbeat) {
        return true;  // its arrival is all it says
    }
    if (message.type == MessageType::Metadata) {
        std::string text;
        std::int64_t timecode = 0;
        if (!decode_metadata(message.payload, text, timecode, reason)) {
            return false;
        }
        const std::lock_guard<std::mutex> lock(m_mutex);
        capture_locked({std::move(text), timecode, connection.id});
        return true;
    }
    if (message.type == MessageType::Tally) {
        NDIlib_tally_t tally;
        if (!decode_tally(message.payload, tally, reason)) {
            return false;
        }
        const std::lock_guard<std::mutex> lock(m_mutex);
        connection.tally = tally;
        update_tally_locked();
        return true;
    }
    reason = "unexpected " + type_name(static_cast<std::uint8_t>(message.type)) + " message";
    return false;
}

bool Sender::write_to(Connection& connection, std::string& reason)
{
    for (;;) {
        std::shared_ptr<OutMessage> message;
        std::size_t offset = 0;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (connection.queue.empty()) {
                return true;
            }
            message = connection.queue.front();
            offset = connection.sent;
        }
        const ssize_t sent = message->send_from(connection.fd.get(), offset);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return true;
            }
            if (errno != EPIPE && errno != ECONNRESET) {
                reason = std::string("send failed: ") + std::strerror(errno);
            }
            return false;
        }
        const std::lock_guard<std::mutex> lock(m_mutex);
        connection.sent += static_cast<std::size_t>(sent);
        if (connection.sent >= message->size()) {
            connection.queue.pop_front();
            --connection.queued[index_of(message->kind())];
            connection.sent = 0;
        }
    }
}

void Sender::close_connection(Connection* connection, const std::string& reason)
{
    if (!reason.empty()) {
        m_peer_lines.line("sender '" + m_name + "': receiver " + connection->peer +
                          " disconnected: " + reason);
    }
    std::unique_ptr<Connection> closing;
    const std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = std::find_if(m_connections.begin(), m_connections.end(),
                                 [connection](const auto& c) { return c.get() == connection; });
    if (it == m_connections.end()) {
        return;
    }
    closing = std::move(*it);
    m_connections.erase(it);
    update_tally_locked();
    m_changed.notify_all();
}

}  // namespace vantor::ndi
