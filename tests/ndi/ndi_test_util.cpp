#include "ndi_test_util.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <thread>

namespace vantor::test {

SenderPtr make_sender(const std::string& name, const char* config)
{
    const NDIlib_send_create_t settings(name.c_str(), nullptr, false, false);
    return SenderPtr(NDIlib_send_create_v2(&settings, config));
}

std::string address_of(NDIlib_send_instance_t sender)
{
    return NDIlib_send_get_source_name(sender)->p_url_address;
}

ReceiverPtr make_receiver(NDIlib_send_instance_t sender, NDIlib_recv_bandwidth_e bandwidth,
                          bool by_name)
{
    const NDIlib_source_t* source = NDIlib_send_get_source_name(sender);
    const NDIlib_source_t wanted = by_name ? NDIlib_source_t(source->p_ndi_name)
                                           : NDIlib_source_t(nullptr, source->p_url_address);
    const NDIlib_recv_create_v3_t settings(wanted, bandwidth, "test receiver");
    return ReceiverPtr(NDIlib_recv_create_v3(&settings));
}

bool wait_for_connections(NDIlib_send_instance_t sender, int count)
{
    return wait_until([&] { return NDIlib_send_get_no_connections(sender, 0) == count; });
}

std::optional<std::string> next_metadata(NDIlib_recv_instance_t receiver,
                                         std::chrono::milliseconds deadline)
{
    NDIlib_metadata_frame_t frame;
    const auto timeout = static_cast<std::uint32_t>(deadline.count());
    if (NDIlib_recv_capture_v2(receiver, nullptr, nullptr, &frame, timeout) !=
        NDIlib_frame_type_metadata) {
        return std::nullopt;
    }
    std::string text(frame.p_data);
    NDIlib_recv_free_metadata(receiver, &frame);
    return text;
}

std::optional<std::string> next_captured(NDIlib_send_instance_t sender,
                                         std::chrono::milliseconds deadline)
{
    NDIlib_metadata_frame_t frame;
    const auto timeout = static_cast<std::uint32_t>(deadline.count());
    if (NDIlib_send_capture(sender, &frame, timeout) != NDIlib_frame_type_metadata) {
        return std::nullopt;
    }
    std::string text(frame.p_data);
    EXPECT_EQ(frame.length, static_cast<int>(text.size() + 1));
    NDIlib_send_free_metadata(sender, &frame);
    return text;
}

std::optional<Picture> next_picture(NDIlib_recv_instance_t receiver,
                                    std::chrono::milliseconds deadline)
{
    NDIlib_video_frame_v2_t frame;
    const auto timeout = static_cast<std::uint32_t>(deadline.count());
    if (NDIlib_recv_capture_v2(receiver, &frame, nullptr, nullptr, timeout) !=
        NDIlib_frame_type_video) {
        return std::nullopt;
    }
    Picture picture;
    picture.xres = frame.xres;
    picture.yres = frame.yres;
    picture.fourcc = frame.FourCC;
    picture.frame_rate_N = frame.frame_rate_N;
    picture.frame_rate_D = frame.frame_rate_D;
    if (frame.p_metadata != nullptr) {
        picture.metadata = frame.p_metadata;
    }
    if (frame.p_data != nullptr) {
        picture.data.assign(frame.p_data, frame.p_data + frame.data_size_in_bytes);
    }
    NDIlib_recv_free_video_v2(receiver, &frame);
    return picture;
}

std::vector<std::uint8_t> pattern(std::size_t size, std::uint8_t seed)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(seed + i);
    }
    return bytes;
}

NDIlib_video_frame_v2_t program_frame(std::vector<std::uint8_t>& data)
{
    NDIlib_video_frame_v2_t frame(1920, 1080, fourcc(NDIlib_FourCC_type_SHQ2_highest_bandwidth),
                                  60000, 1001);
    frame.p_data = data.data();
    frame.data_size_in_bytes = static_cast<int>(data.size());
    return frame;
}

RawClient::RawClient(const std::string& address, int receive_buffer, bool connect)
    : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)), m_address(address)
{
    if (receive_buffer > 0) {
        ::setsockopt(m_fd.get(), SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
    }
    if (connect && !connect_now()) {
        ADD_FAILURE() << "connect to " << address << ": " << std::strerror(errno);
    }
}

bool RawClient::connect_now()
{
    const std::size_t colon = m_address.rfind(':');
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(std::stoi(m_address.substr(colon + 1))));
    ::inet_pton(AF_INET, m_address.substr(0, colon).c_str(), &addr.sin_addr);
    return ::connect(m_fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
}

bool RawClient::send_bytes(const std::vector<std::uint8_t>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t sent =
            ::send(m_fd.get(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(sent);
    }
    return true;
}

bool RawClient::send_hello()
{
    // 'V' 'N', type 1 (hello), flags 0, length 4; streams: program, preview and audio.
    return send_bytes({'V', 'N', 0x01, 0x00, 4, 0, 0, 0, 0x07, 0, 0, 0});
}

bool RawClient::wait_closed(std::chrono::milliseconds deadline)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    std::vector<std::uint8_t> sink(std::size_t{64} * 1024);
    while (std::chrono::steady_clock::now() < end) {
        pollfd waiting{m_fd.get(), POLLIN, 0};
        if (::poll(&waiting, 1, 50) <= 0) {
            continue;
        }
        const ssize_t got = ::recv(m_fd.get(), sink.data(), sink.size(), 0);
        if (got == 0 || (got < 0 && errno == ECONNRESET)) {
            return true;
        }
    }
    return false;
}

bool RawClient::read_exact(std::uint8_t* target, std::size_t size,
                           std::chrono::milliseconds deadline)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    std::size_t done = 0;
    while (done < size) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        pollfd waiting{m_fd.get(), POLLIN, 0};
        if (::poll(&waiting, 1, 50) <= 0) {
            continue;
        }
        const ssize_t got = ::recv(m_fd.get(), target + done, size - done, 0);
        if (got <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

StdoutCapture::StdoutCapture()
{
    std::fflush(stdout);
    m_saved = ::dup(STDOUT_FILENO);
    const int file =
        ::open((m_dir / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ::dup2(file, STDOUT_FILENO);
    ::close(file);
}

StdoutCapture::~StdoutCapture()
{
    std::fflush(stdout);
    ::dup2(m_saved, STDOUT_FILENO);
    ::close(m_saved);
}

std::string StdoutCapture::text() const
{
    std::fflush(stdout);
    return read_text(m_dir / "stdout");
}

std::vector<std::string> StdoutCapture::lines_with(const std::string& needle) const
{
    std::vector<std::string> found;
    const std::string all = text();
    std::size_t start = 0;
    while (start < all.size()) {
        std::size_t end = all.find('\n', start);
        if (end == std::string::npos) {
            end = all.size();
        }
        const std::string line = all.substr(start, end - start);
        if (line.find(needle) != std::string::npos) {
            found.push_back(line);
        }
        start = end + 1;
    }
    return found;
}

}  // namespace vantor::test
