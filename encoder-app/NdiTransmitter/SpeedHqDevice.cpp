#include "NdiTransmitter/SpeedHqDevice.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "HelperLib/thread_wake.h"
#include "vantor/board_root.h"
#include "vantor/file_io.h"

namespace {

using speedhq_protocol::kControl;
using speedhq_protocol::kRead;
using speedhq_protocol::kRefused;
using speedhq_protocol::kRequestSize;
using speedhq_protocol::kResponseHeaderSize;
using speedhq_protocol::Request;
using speedhq_protocol::ResponseHeader;

constexpr std::size_t kStatusBytes = std::size_t{VANTOR_SPEEDHQ_STATUS_WORDS} * 4U;

// How often cancel_waits signals a thread that still waits on a character device: a signal that
// arrives just before the thread enters the driver's wait is lost, the next one is not.
constexpr std::chrono::milliseconds kResignalPeriod{5};

vantor::UniqueFd connect_unix(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
        errno = ENAMETOOLONG;
        return {};
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    vantor::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) {
        return fd;
    }
    timeval timeout{};
    timeout.tv_sec = SpeedHqDevice::kReplyTimeoutMs / 1000;
    timeout.tv_usec = static_cast<suseconds_t>(SpeedHqDevice::kReplyTimeoutMs % 1000) * 1000;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
    int rc = 0;
    do {
        rc = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int error = errno;
        fd.reset();
        errno = error;
    }
    return fd;
}

bool send_exact(int fd, const void* data, std::size_t size)
{
    if (vantor::send_all(fd, data, size)) {
        return true;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
        errno = ETIMEDOUT;  // the socket's send time-out expired
    }
    return false;
}

bool receive_exact(int fd, void* data, std::size_t size)
{
    auto* bytes = static_cast<std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::recv(fd, bytes, size, 0);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                errno = ETIMEDOUT;
            }
            return false;
        }
        if (n == 0) {
            errno = ECONNRESET;
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool SpeedHqDevice::open(const char* system_path)
{
    close();
    const std::string path = vantor::board_path(system_path);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return false;
    }
    if (S_ISSOCK(info.st_mode)) {
        vantor::UniqueFd control = connect_unix(path);
        if (!control) {
            return false;
        }
        vantor::UniqueFd wait = connect_unix(path);
        if (!wait) {
            return false;
        }
        vantor::UniqueFd cancel_event(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!cancel_event) {
            return false;
        }
        m_control.fd = std::move(control);
        m_wait.fd = std::move(wait);
        m_cancel_event = std::move(cancel_event);
        m_path = path;
        m_transport = Transport::Socket;
        return true;
    }
    vantor::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd) {
        return false;
    }
    m_fd = std::move(fd);
    m_transport = Transport::CharacterDevice;
    return true;
}

void SpeedHqDevice::close()
{
    m_fd.reset();
    m_control.fd.reset();
    m_wait.fd.reset();
    m_wait.reconnect = false;
    m_cancel_event.reset();
    m_path.clear();
    m_waits_cancelled.store(false);
    m_transport = Transport::Closed;
}

void SpeedHqDevice::cancel_waits()
{
    std::unique_lock<std::mutex> lock(m_waiter_lock);
    m_waits_cancelled.store(true);
    if (m_cancel_event) {
        const std::uint64_t one = 1;
        (void)::write(m_cancel_event.get(), &one, sizeof(one));
    }
    if (!m_waiting) {
        return;
    }
    (void)signal_until_left(
        m_waiter, lock, m_waiter_left, [this] { return !m_waiting; }, kResignalPeriod,
        kCancelLimit);
}

void SpeedHqDevice::resume_waits()
{
    const std::lock_guard<std::mutex> lock(m_waiter_lock);
    m_waits_cancelled.store(false);
    if (m_cancel_event) {
        std::uint64_t count = 0;
        (void)::read(m_cancel_event.get(), &count, sizeof(count));
    }
}

int SpeedHqDevice::wait_frame(std::int32_t& argument)
{
    switch (m_transport) {
    case Transport::CharacterDevice:
        return wait_on_character_device(argument);
    case Transport::Socket:
        return wait_on_socket(argument);
    case Transport::Closed:
        break;
    }
    errno = EBADF;
    return -1;
}

int SpeedHqDevice::wait_on_character_device(std::int32_t& argument)
{
    {
        const std::lock_guard<std::mutex> lock(m_waiter_lock);
        if (m_waits_cancelled.load()) {
            errno = ECANCELED;
            return -1;
        }
        m_waiter = ::pthread_self();
        m_waiting = true;
    }
    int rc = 0;
    do {
        rc = ::ioctl(m_fd.get(), VANTOR_SPEEDHQ_IOCTL_RD_SEL, &argument);
    } while (rc < 0 && errno == EINTR && !m_waits_cancelled.load());
    int error = errno;
    {
        const std::lock_guard<std::mutex> lock(m_waiter_lock);
        m_waiting = false;
    }
    m_waiter_left.notify_all();
    if (rc < 0 && error == EINTR) {
        error = ECANCELED;
    }
    errno = error;
    return rc;
}

int SpeedHqDevice::wait_on_socket(std::int32_t& argument)
{
    if (m_waits_cancelled.load()) {
        errno = ECANCELED;
        return -1;
    }
    {
        // A cancelled wait left its answer behind on the old connection: the next wait gets a
        // connection of its own.
        const std::lock_guard<std::mutex> lock(m_wait.lock);
        if (!m_wait.fd && m_wait.reconnect) {
            m_wait.fd = connect_unix(m_path);
            m_wait.reconnect = !m_wait.fd;
        }
    }
    Request message;
    message.kind = kControl;
    message.has_argument = true;
    message.code = VANTOR_SPEEDHQ_IOCTL_RD_SEL;
    message.argument = argument;
    return transact(m_wait, message, &argument, nullptr, 0, 0, m_cancel_event.get());
}

int SpeedHqDevice::request(std::uint32_t code)
{
    switch (m_transport) {
    case Transport::CharacterDevice: {
        int rc = 0;
        do {
            rc = ::ioctl(m_fd.get(), code);
        } while (rc < 0 && errno == EINTR);
        return rc;
    }
    case Transport::Socket: {
        Request message;
        message.kind = kControl;
        message.code = code;
        return transact(m_control, message, nullptr, nullptr, 0, 0);
    }
    case Transport::Closed:
        break;
    }
    errno = EBADF;
    return -1;
}

int SpeedHqDevice::request(std::uint32_t code, std::int32_t& argument)
{
    if (code == VANTOR_SPEEDHQ_IOCTL_RD_SEL && argument == VANTOR_SPEEDHQ_RD_SEL_WAIT_FRAME) {
        return wait_frame(argument);
    }
    switch (m_transport) {
    case Transport::CharacterDevice: {
        int rc = 0;
        do {
            rc = ::ioctl(m_fd.get(), code, &argument);
        } while (rc < 0 && errno == EINTR);
        return rc;
    }
    case Transport::Socket: {
        Request message;
        message.kind = kControl;
        message.has_argument = true;
        message.code = code;
        message.argument = argument;
        return transact(m_control, message, &argument, nullptr, 0, 0);
    }
    case Transport::Closed:
        break;
    }
    errno = EBADF;
    return -1;
}

ssize_t SpeedHqDevice::read(void* buffer, std::size_t count)
{
    switch (m_transport) {
    case Transport::CharacterDevice: {
        ssize_t n = 0;
        do {
            n = ::read(m_fd.get(), buffer, count);
        } while (n < 0 && errno == EINTR);
        return n;
    }
    case Transport::Socket: {
        if (count > speedhq_protocol::kMaxReadCount) {
            errno = EINVAL;
            return -1;
        }
        Request message;
        message.kind = kRead;
        message.code = static_cast<std::uint32_t>(count);
        return transact(m_control, message, nullptr, buffer, count, 0);
    }
    case Transport::Closed:
        break;
    }
    errno = EBADF;
    return -1;
}

int SpeedHqDevice::read_status(StatusRecord& status)
{
    switch (m_transport) {
    case Transport::CharacterDevice: {
        // The driver takes the count in words and fills the whole record.
        ssize_t n = 0;
        do {
            n = ::read(m_fd.get(), status.data(), VANTOR_SPEEDHQ_STATUS_WORDS);
        } while (n < 0 && errno == EINTR);
        return static_cast<int>(n);
    }
    case Transport::Socket: {
        std::uint8_t bytes[kStatusBytes] = {};
        Request message;
        message.kind = kRead;
        message.code = VANTOR_SPEEDHQ_STATUS_WORDS;
        const int index =
            transact(m_control, message, nullptr, bytes, sizeof(bytes), sizeof(bytes));
        if (index >= 0) {
            for (std::size_t i = 0; i < status.size(); ++i) {
                status[i] = speedhq_protocol::get_i32(bytes + 4 * i);
            }
        }
        return index;
    }
    case Transport::Closed:
        break;
    }
    errno = EBADF;
    return -1;
}

int SpeedHqDevice::transact(Channel& channel, const Request& request, std::int32_t* argument,
                            void* payload, std::size_t capacity, std::size_t exact_payload,
                            int cancel_fd)
{
    const std::lock_guard<std::mutex> lock(channel.lock);
    if (!channel.fd) {
        errno = ENOTCONN;
        return -1;
    }
    const auto fail = [&channel](int error) {
        channel.fd.reset();
        errno = error;
        return -1;
    };

    std::uint8_t out[kRequestSize];
    speedhq_protocol::encode_request(request, out);
    if (!send_exact(channel.fd.get(), out, sizeof(out))) {
        return fail(errno);
    }
    if (cancel_fd >= 0) {
        pollfd fds[2] = {{channel.fd.get(), POLLIN, 0}, {cancel_fd, POLLIN, 0}};
        int ready = 0;
        do {
            ready = ::poll(fds, 2, kReplyTimeoutMs);
        } while (ready < 0 && errno == EINTR);
        if (ready < 0) {
            return fail(errno);
        }
        if (ready == 0) {
            return fail(ETIMEDOUT);
        }
        if (fds[0].revents == 0) {
            channel.reconnect = true;
            return fail(ECANCELED);
        }
    }
    std::uint8_t in[kResponseHeaderSize];
    if (!receive_exact(channel.fd.get(), in, sizeof(in))) {
        return fail(errno);
    }
    ResponseHeader header;
    if (!speedhq_protocol::decode_response_header(in, header)) {
        return fail(EPROTO);
    }
    if (header.kind == kRefused) {
        // The peer could not understand the request and closes the connection.
        return fail(header.error > 0 ? header.error : EPROTO);
    }
    if (header.kind != request.kind) {
        return fail(EPROTO);
    }
    if (header.result < 0) {
        // A failed request carries nothing but its error number.
        if (header.payload_size != 0) {
            return fail(EPROTO);
        }
        errno = header.error > 0 ? header.error : EIO;
        return -1;
    }
    if (request.kind == kControl) {
        if (header.payload_size != 0) {
            return fail(EPROTO);
        }
        if (argument != nullptr && header.has_argument) {
            *argument = header.argument;
        }
        return header.result;
    }
    // A read: the payload is the status record (exact size) or the picture bytes, whose count is
    // the result.
    const bool fits = exact_payload != 0
                          ? header.payload_size == exact_payload
                          : header.payload_size <= capacity &&
                                header.payload_size == static_cast<std::uint32_t>(header.result);
    if (!fits) {
        return fail(EPROTO);
    }
    if (header.payload_size > 0 && !receive_exact(channel.fd.get(), payload, header.payload_size)) {
        return fail(errno);
    }
    return header.result;
}
