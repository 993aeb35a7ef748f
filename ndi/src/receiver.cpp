#include "receiver.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "codec.h"
#include "log.h"
#include "registry.h"
#include "source_finder.h"

namespace vantor::ndi {

namespace {

std::uint32_t streams_for(NDIlib_recv_bandwidth_e bandwidth)
{
    switch (bandwidth) {
    case NDIlib_recv_bandwidth_metadata_only:
        return 0;
    case NDIlib_recv_bandwidth_audio_only:
        return kStreamAudio;
    case NDIlib_recv_bandwidth_lowest:
        return kStreamPreviewVideo | kStreamAudio;
    case NDIlib_recv_bandwidth_highest:
        return kStreamProgramVideo | kStreamAudio;
    case NDIlib_recv_bandwidth_all_video:
        break;
    }
    return kStreamProgramVideo | kStreamPreviewVideo | kStreamAudio;
}

void copy_text(char* target, std::size_t size, const std::string& text)
{
    const std::size_t length = std::min(text.size(), size - 1);
    std::memcpy(target, text.data(), length);
    target[length] = '\0';
}

}  // namespace

Receiver::Receiver(const NDIlib_recv_create_v3_t& settings)
    : m_name(settings.p_ndi_recv_name != nullptr ? settings.p_ndi_recv_name : ""),
      m_streams(streams_for(settings.bandwidth))
{
    const NDIlib_source_t& source = settings.source_to_connect_to;
    m_original_name = source.p_ndi_name != nullptr ? source.p_ndi_name : "";
    m_original_address = source.p_url_address != nullptr ? source.p_url_address : "";
    m_target_name = m_original_name;
    m_target_address = m_original_address;
    m_thread = std::thread([this] { run(); });
}

Receiver::~Receiver()
{
    m_stop.store(true);
    m_wake.wake();
    if (m_thread.joinable()) {
        m_thread.join();
    }
    for (const Frame& frame : m_frames) {
        release(frame);
    }
}

void Receiver::release(const Frame& frame)
{
    switch (frame.type) {
    case NDIlib_frame_type_video:
        free_video(frame.video);
        break;
    case NDIlib_frame_type_audio:
        free_audio(frame.audio);
        break;
    case NDIlib_frame_type_metadata:
        free_metadata(frame.metadata);
        break;
    default:
        break;
    }
}

// --- the connection thread --------------------------------------------------------------------

void Receiver::pause(std::chrono::milliseconds wait)
{
    pollfd waiting{m_wake.fd(), POLLIN, 0};
    if (::poll(&waiting, 1, static_cast<int>(wait.count())) > 0) {
        m_wake.drain();
    }
}

void Receiver::pause_after_refusal(std::chrono::milliseconds& wait)
{
    pause(wait);
    wait = std::min(wait * 2, kRetryLast);
}

bool Receiver::find_by_name(const std::string& name, std::string& address)
{
    if (find_sender(name, address)) {
        return true;
    }
    // Not on this machine: by mDNS, browsing from the first look on.
    if (!m_finder) {
        m_finder = std::make_unique<SourceFinder>();
    }
    return m_finder->find(name, address);
}

bool Receiver::greet(int fd, bool use)
{
    const std::lock_guard<std::mutex> lock(m_write_mutex);
    // An application write never waits long for a sender that does not read.
    timeval limit{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    const std::vector<std::uint8_t> hello = encode_hello(m_streams, m_name);
    bool greeted = send_all(fd, hello.data(), hello.size());
    if (greeted && m_tally_set) {
        const std::vector<std::uint8_t> tally = encode_tally(m_tally);
        greeted = send_all(fd, tally.data(), tally.size());
    }
    if (greeted && use) {
        m_fd = fd;
    }
    return greeted;
}

bool Receiver::adopt(int fd)
{
    const std::lock_guard<std::mutex> lock(m_write_mutex);
    // Said again: the tally may have changed since the probe's hello.
    if (m_tally_set) {
        const std::vector<std::uint8_t> tally = encode_tally(m_tally);
        if (!send_all(fd, tally.data(), tally.size())) {
            return false;
        }
    }
    m_fd = fd;
    return true;
}

void Receiver::move_to_failover_locked()
{
    if (m_fallback_name.empty() && m_fallback_address.empty()) {
        return;
    }
    m_target_name = m_fallback_name;
    m_target_address = m_fallback_address;
    m_on_failover = true;
}

void Receiver::return_to_original_locked()
{
    m_target_name = m_original_name;
    m_target_address = m_original_address;
    m_on_failover = false;
}

void Receiver::run()
{
    std::chrono::milliseconds retry = kRetryFirst;
    Probe handed;  // a connection to the original source that already answered
    while (!m_stop.load()) {
        std::string name;
        std::string address;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            name = m_target_name;
            address = m_target_address;
        }
        UniqueFd fd;
        bool greeted = false;
        if (handed.fd) {
            fd = std::move(handed.fd);
            address = handed.address;
            greeted = adopt(fd.get());
            handed = Probe();
        } else if (!address.empty() || find_by_name(name, address)) {
            std::string error;
            fd = connect_tcp(address, 1000, error);
            greeted = fd && greet(fd.get(), true);
        }
        if (!greeted) {
            fd.reset();
            const bool found = !address.empty();
            // Outside the write lock: application writes do not wait for the pause.
            if (found) {
                pause_after_refusal(retry);
            } else {
                pause(kRetryFirst);
            }
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (m_retry_same || (!m_on_failover && found)) {
                // The same source once more did not answer, or the original one refuses.
                m_retry_same = false;
                move_to_failover_locked();
            } else if (m_on_failover) {
                return_to_original_locked();
            }
            continue;
        }
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_connected = true;
            m_source_address = address;
            std::fill(std::begin(m_have_sequence), std::end(m_have_sequence), false);
        }
        m_own_ending.store(false);
        const Ending ending = serve(fd.get(), address, handed);
        {
            const std::lock_guard<std::mutex> lock(m_write_mutex);
            m_fd = -1;
        }
        fd.reset();
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_connected = false;
            m_retry_same = false;
            if (ending == Ending::Original) {
                return_to_original_locked();
            } else if (ending == Ending::Own) {
                // The receiver ended it: the same source first, the failover if that fails.
                m_retry_same = true;
            } else {
                // The sender went away: move to the source it named for this case.
                move_to_failover_locked();
            }
        }
        if (ending == Ending::Answered || ending == Ending::Original || ending == Ending::Own) {
            retry = kRetryFirst;
        }
        if (!m_stop.load() && ending != Ending::Original) {
            pause_after_refusal(retry);
        }
    }
}

void Receiver::start_probe(Probe& probe)
{
    std::string address = m_original_address;
    if (address.empty() && !find_by_name(m_original_name, address)) {
        return;
    }
    std::string error;
    probe.fd = connect_tcp_start(address, error);
    probe.address = address;
    probe.greeted = false;
    probe.started = std::chrono::steady_clock::now();
}

bool Receiver::advance_probe(Probe& probe, short revents)
{
    std::string error;
    if (!probe.greeted) {
        if ((revents & (POLLOUT | POLLERR | POLLHUP)) == 0) {
            return false;
        }
        probe.greeted = connect_tcp_finish(probe.fd.get(), probe.address, error) &&
                        greet(probe.fd.get(), false);
        if (!probe.greeted) {
            probe.fd.reset();
        }
        return false;
    }
    if ((revents & (POLLIN | POLLERR | POLLHUP)) == 0) {
        return false;
    }
    // The sender's answer has begun to arrive: left in the socket for the connection to read.
    std::uint8_t first = 0;
    if (::recv(probe.fd.get(), &first, 1, MSG_PEEK | MSG_DONTWAIT) == 1) {
        return true;
    }
    probe.fd.reset();
    return false;
}

Receiver::Ending Receiver::serve(int fd, const std::string& address, Probe& probe)
{
    using Clock = std::chrono::steady_clock;
    MessageReader reader(Direction::ToReceiver);
    const std::vector<std::uint8_t> heartbeat = encode_heartbeat();
    bool answered = false;
    const Clock::time_point start = Clock::now();
    Clock::time_point last_heard = start;
    Clock::time_point heartbeat_sent = start;
    Clock::time_point next_probe = start + kProbeInterval;
    const auto ended = [&] { return answered ? Ending::Answered : Ending::Closed; };
    const auto give_up = [&](const std::string& error) {
        m_peer_lines.line("receiver: sender " + address + " disconnected: " + error);
    };
    while (!m_stop.load()) {
        Clock::time_point now = Clock::now();
        if (now - heartbeat_sent >= kHeartbeatInterval) {
            write_message(heartbeat);
            heartbeat_sent = now;
        }
        if (now - last_heard > kSilenceLimit) {
            give_up("nothing heard for " + std::to_string(kSilenceLimit.count()) + " ms");
            return ended();
        }
        Clock::time_point wake_at =
            std::min(heartbeat_sent + kHeartbeatInterval, last_heard + kSilenceLimit);
        if (m_on_failover) {
            if (probe.fd && now - probe.started > kProbeTimeout) {
                probe.fd.reset();  // the original source does not answer (yet)
            }
            if (!probe.fd && now >= next_probe) {
                next_probe = now + kProbeInterval;
                start_probe(probe);
            }
            wake_at = std::min(wake_at, probe.fd ? probe.started + kProbeTimeout : next_probe);
        }
        const auto timeout =
            std::chrono::duration_cast<std::chrono::milliseconds>(wake_at - now).count() + 1;
        pollfd fds[3] = {{fd, POLLIN, 0},
                         {m_wake.fd(), POLLIN, 0},
                         {probe.fd ? probe.fd.get() : -1,
                          static_cast<short>(probe.greeted ? POLLIN : POLLOUT), 0}};
        if (::poll(fds, 3, static_cast<int>(std::max<long long>(timeout, 0))) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return ended();
        }
        if ((fds[1].revents & POLLIN) != 0) {
            m_wake.drain();
        }
        if (probe.fd && advance_probe(probe, fds[2].revents)) {
            return Ending::Original;
        }
        if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
            continue;
        }
        last_heard = Clock::now();
        for (;;) {
            Message message;
            std::string error;
            const MessageReader::Status status = reader.read(fd, message, error);
            if (status == MessageReader::Status::Pending) {
                break;
            }
            if (status == MessageReader::Status::Closed) {
                return m_own_ending.load() ? Ending::Own : ended();
            }
            if (status == MessageReader::Status::Failed || !handle(message, error)) {
                give_up(error);
                // A broken stream the receiver refuses to read on: its own ending.
                return Ending::Own;
            }
            answered = answered || message.type == MessageType::Source;
        }
    }
    return Ending::Stopped;
}

bool Receiver::handle(Message& message, std::string& error)
{
    Frame frame;
    std::uint32_t sequence = 0;
    switch (message.type) {
    case MessageType::Source: {
        std::string name;
        std::string vendor;
        if (!decode_source(message.payload, name, vendor, error)) {
            return false;
        }
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_source_name = std::move(name);
        m_vendor = std::move(vendor);
        return true;
    }
    case MessageType::Failover: {
        std::string name;
        std::string address;
        if (!decode_failover(message.payload, name, address, error)) {
            return false;
        }
        if (!m_on_failover) {
            // What the original source names is where to go when it stops.
            m_fallback_name = name;
            m_fallback_address = address;
        }
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_failover_name = std::move(name);
        m_failover_address = std::move(address);
        return true;
    }
    case MessageType::Heartbeat:
        return true;  // its arrival is all it says
    case MessageType::Metadata: {
        std::string text;
        std::int64_t timecode = 0;
        if (!decode_metadata(message.payload, text, timecode, error)) {
            return false;
        }
        frame.type = NDIlib_frame_type_metadata;
        fill_metadata_frame(frame.metadata, text, timecode);
        const std::lock_guard<std::mutex> lock(m_mutex);
        push_locked(frame);
        return true;
    }
    case MessageType::Video: {
        if (!decode_video(message.payload, frame.video, sequence, error)) {
            return false;
        }
        frame.type = NDIlib_frame_type_video;
        const std::lock_guard<std::mutex> lock(m_mutex);
        count_sequence_locked(is_lowest_bandwidth(frame.video.FourCC) ? PreviewVideo : ProgramVideo,
                              sequence);
        push_locked(frame);
        return true;
    }
    case MessageType::Audio: {
        if (!decode_audio(message.payload, frame.audio, sequence, error)) {
            return false;
        }
        frame.type = NDIlib_frame_type_audio;
        const std::lock_guard<std::mutex> lock(m_mutex);
        count_sequence_locked(Audio, sequence);
        push_locked(frame);
        return true;
    }
    default:
        break;
    }
    error = "unexpected " + type_name(static_cast<std::uint8_t>(message.type)) + " message";
    return false;
}

void Receiver::count_sequence_locked(Counter counter, std::uint32_t sequence)
{
    if (m_have_sequence[counter]) {
        const std::uint32_t gap = sequence - m_last_sequence[counter] - 1;
        // A gap is what the sender dropped for this connection; a step backwards is not one.
        if (gap < 0x80000000U) {
            if (counter == Audio) {
                m_dropped.audio_frames += gap;
            } else {
                m_dropped.video_frames += gap;
                if (counter == PreviewVideo) {
                    m_dropped.video_frames_lowest_bandwidth += gap;
                }
            }
        }
    }
    m_have_sequence[counter] = true;
    m_last_sequence[counter] = sequence;
}

void Receiver::push_locked(Frame frame)
{
    const bool preview =
        frame.type == NDIlib_frame_type_video && is_lowest_bandwidth(frame.video.FourCC);
    std::size_t limit = kQueuedMetadata;
    if (frame.type == NDIlib_frame_type_video) {
        ++m_total.video_frames;
        m_total.video_frames_lowest_bandwidth += preview ? 1 : 0;
        limit = kQueuedVideo;
    } else if (frame.type == NDIlib_frame_type_audio) {
        ++m_total.audio_frames;
        limit = kQueuedAudio;
    } else {
        ++m_total.metadata_frames;
    }
    const auto same_kind = [&frame](const Frame& queued) { return queued.type == frame.type; };
    if (static_cast<std::size_t>(std::count_if(m_frames.begin(), m_frames.end(), same_kind)) >=
        limit) {
        const auto oldest = std::find_if(m_frames.begin(), m_frames.end(), same_kind);
        if (oldest->type == NDIlib_frame_type_video) {
            ++m_dropped.video_frames;
            m_dropped.video_frames_lowest_bandwidth +=
                is_lowest_bandwidth(oldest->video.FourCC) ? 1 : 0;
        } else if (oldest->type == NDIlib_frame_type_audio) {
            ++m_dropped.audio_frames;
        } else {
            ++m_dropped.metadata_frames;
        }
        release(*oldest);
        m_frames.erase(oldest);
    }
    m_frames.push_back(frame);
    m_arrived.notify_all();
}

// --- application calls ------------------------------------------------------------------------

NDIlib_frame_type_e Receiver::capture(NDIlib_video_frame_v2_t* video,
                                      NDIlib_audio_frame_interleaved_32f_t* audio,
                                      NDIlib_metadata_frame_t* metadata, std::uint32_t timeout_ms)
{
    const auto wanted = [&](const Frame& frame) {
        return (frame.type == NDIlib_frame_type_video && video != nullptr) ||
               (frame.type == NDIlib_frame_type_audio && audio != nullptr) ||
               (frame.type == NDIlib_frame_type_metadata && metadata != nullptr);
    };
    std::unique_lock<std::mutex> lock(m_mutex);
    std::deque<Frame>::iterator found;
    m_arrived.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
        found = std::find_if(m_frames.begin(), m_frames.end(), wanted);
        return found != m_frames.end();
    });
    found = std::find_if(m_frames.begin(), m_frames.end(), wanted);
    if (found == m_frames.end()) {
        return NDIlib_frame_type_none;
    }
    const Frame frame = *found;
    m_frames.erase(found);
    switch (frame.type) {
    case NDIlib_frame_type_video:
        *video = frame.video;
        break;
    case NDIlib_frame_type_audio:
        *audio = frame.audio;
        break;
    default:
        *metadata = frame.metadata;
        break;
    }
    return frame.type;
}

bool Receiver::write_message(const std::vector<std::uint8_t>& bytes)
{
    const std::lock_guard<std::mutex> lock(m_write_mutex);
    if (m_fd < 0) {
        return false;
    }
    if (!send_all(m_fd, bytes.data(), bytes.size())) {
        // The connection thread notices the broken connection on its side.
        m_own_ending.store(true);
        ::shutdown(m_fd, SHUT_RDWR);
        return false;
    }
    return true;
}

bool Receiver::send_metadata(const NDIlib_metadata_frame_t& frame)
{
    const std::string text = metadata_text(frame);
    if (text.size() + 8 > kMaxPayloadFromReceiver) {
        return false;
    }
    const std::int64_t timecode =
        frame.timecode == NDIlib_send_timecode_synthesize ? now_100ns() : frame.timecode;
    return write_message(encode_metadata(text, timecode));
}

bool Receiver::set_tally(const NDIlib_tally_t& tally)
{
    {
        const std::lock_guard<std::mutex> lock(m_write_mutex);
        m_tally = tally;
        m_tally_set = true;
    }
    return write_message(encode_tally(tally));
}

int Receiver::connections() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_connected ? 1 : 0;
}

void Receiver::performance(NDIlib_recv_performance_t* total,
                           NDIlib_recv_performance_t* dropped) const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (total != nullptr) {
        *total = m_total;
    }
    if (dropped != nullptr) {
        *dropped = m_dropped;
    }
}

void Receiver::source_info(NDIlib_recv_source_info_t& info) const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    info.connected = m_connected;
    copy_text(info.name, sizeof info.name, m_source_name);
    copy_text(info.address, sizeof info.address, m_source_address);
    copy_text(info.vendor, sizeof info.vendor, m_vendor);
    copy_text(info.failover_name, sizeof info.failover_name, m_failover_name);
    copy_text(info.failover_address, sizeof info.failover_address, m_failover_address);
}

}  // namespace vantor::ndi
