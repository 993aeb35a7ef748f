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
    m_target_name = source.p_ndi_name != nullptr ? source.p_ndi_name : "";
    m_target_address = source.p_url_address != nullptr ? source.p_url_address : "";
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

void Receiver::run()
{
    std::chrono::milliseconds retry = kRetryFirst;
    while (!m_stop.load()) {
        std::string name;
        std::string address;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            name = m_target_name;
            address = m_target_address;
        }
        if (address.empty() && !find_by_name(name, address)) {
            pause(kRetryFirst);
            continue;
        }
        std::string error;
        UniqueFd fd = connect_tcp(address, 1000, error);
        if (!fd) {
            pause_after_refusal(retry);
            continue;
        }
        // An application write never waits long for a sender that does not read.
        timeval limit{1, 0};
        ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        bool greeted = false;
        {
            const std::lock_guard<std::mutex> lock(m_write_mutex);
            const std::vector<std::uint8_t> hello = encode_hello(m_streams, m_name);
            greeted = send_all(fd.get(), hello.data(), hello.size());
            if (greeted && m_tally_set) {
                const std::vector<std::uint8_t> tally = encode_tally(m_tally);
                greeted = send_all(fd.get(), tally.data(), tally.size());
            }
            if (greeted) {
                m_fd = fd.get();
            }
        }
        if (!greeted) {
            // Outside the write lock: application writes do not wait for the pause.
            fd.reset();
            pause_after_refusal(retry);
            continue;
        }
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_connected = true;
            m_source_address = address;
            std::fill(std::begin(m_have_sequence), std::end(m_have_sequence), false);
        }
        const bool answered = serve(fd.get(), address);
        {
            const std::lock_guard<std::mutex> lock(m_write_mutex);
            m_fd = -1;
        }
        fd.reset();
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_connected = false;
            // The sender went away: move to the source it named for this case.
            if (!m_failover_name.empty() || !m_failover_address.empty()) {
                m_target_name = m_failover_name;
                m_target_address = m_failover_address;
                m_failover_name.clear();
                m_failover_address.clear();
            }
        }
        if (answered) {
            retry = kRetryFirst;
        }
        if (!m_stop.load()) {
            pause_after_refusal(retry);
        }
    }
}

bool Receiver::serve(int fd, const std::string& address)
{
    MessageReader reader(Direction::ToReceiver);
    pollfd fds[2] = {{fd, POLLIN, 0}, {m_wake.fd(), POLLIN, 0}};
    bool answered = false;
    while (!m_stop.load()) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return answered;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            m_wake.drain();
        }
        if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
            continue;
        }
        for (;;) {
            Message message;
            std::string error;
            const MessageReader::Status status = reader.read(fd, message, error);
            if (status == MessageReader::Status::Pending) {
                break;
            }
            if (status == MessageReader::Status::Closed) {
                return answered;
            }
            if (status == MessageReader::Status::Failed || !handle(message, error)) {
                std::string line = "receiver: sender " + address;
                line.append(" disconnected: ").append(error);
                m_peer_lines.line(line);
                return answered;
            }
            answered = answered || message.type == MessageType::Source;
        }
    }
    return answered;
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
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_failover_name = std::move(name);
        m_failover_address = std::move(address);
        return true;
    }
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
