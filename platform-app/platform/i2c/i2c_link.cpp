#include "platform/i2c/i2c_link.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr uint8_t kOpRetries = 'T';
constexpr uint8_t kOpTimeout = 'O';
constexpr uint8_t kOpWrite = 'W';
constexpr uint8_t kOpRead = 'R';
// The socket's receive time-out until the caller sets its own: no request ever waits unbounded.
constexpr uint8_t kDefaultTimeout = 10;  // 100 ms

bool set_receive_timeout(int fd, uint8_t tens_of_ms)
{
    struct timeval tv {};
    tv.tv_sec = tens_of_ms / 100;
    tv.tv_usec = static_cast<suseconds_t>(tens_of_ms % 100) * 10000;
    return ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

}  // namespace

bool I2cLink::open(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return false;
    }
    if (S_ISCHR(st.st_mode)) {
        m_fd.reset(::open(path.c_str(), O_RDWR | O_CLOEXEC));
        m_socket = false;
        return m_fd.valid();
    }
    if (!S_ISSOCK(st.st_mode)) {
        return false;
    }
    struct sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    m_fd.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    m_socket = true;
    return m_fd.valid() && set_receive_timeout(m_fd.get(), kDefaultTimeout) &&
           ::connect(m_fd.get(), reinterpret_cast<const struct sockaddr*>(&addr), sizeof addr) == 0;
}

bool I2cLink::request(uint8_t op, uint8_t dev, uint8_t reg, uint8_t value, uint8_t& answer)
{
    const uint8_t message[4] = {op, dev, reg, value};
    // MSG_NOSIGNAL: a bus model that went away is a failed transfer, not a SIGPIPE.
    if (::send(m_fd.get(), message, sizeof message, MSG_NOSIGNAL) !=
        static_cast<ssize_t>(sizeof message)) {
        return false;
    }
    uint8_t reply[2] = {};
    size_t got = 0;
    while (got < sizeof reply) {
        const ssize_t n = ::read(m_fd.get(), reply + got, sizeof reply - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;  // closed, or no answer within the time-out
        }
        got += static_cast<size_t>(n);
    }
    answer = reply[1];
    return reply[0] == 0;
}

bool I2cLink::set_retries(uint8_t retries)
{
    uint8_t ignored = 0;
    if (m_socket) {
        return request(kOpRetries, 0, 0, retries, ignored);
    }
    return ::ioctl(m_fd.get(), I2C_RETRIES, static_cast<unsigned long>(retries)) == 0;
}

bool I2cLink::set_timeout(uint8_t tens_of_ms)
{
    uint8_t ignored = 0;
    if (m_socket) {
        return set_receive_timeout(m_fd.get(), tens_of_ms) &&
               request(kOpTimeout, 0, 0, tens_of_ms, ignored);
    }
    return ::ioctl(m_fd.get(), I2C_TIMEOUT, static_cast<unsigned long>(tens_of_ms)) == 0;
}

bool I2cLink::write_register(uint8_t dev, uint8_t reg, uint8_t value)
{
    uint8_t ignored = 0;
    if (m_socket) {
        return request(kOpWrite, dev, reg, value, ignored);
    }
    uint8_t bytes[2] = {reg, value};
    struct i2c_msg message {};
    message.addr = dev;
    message.flags = 0;
    message.len = sizeof bytes;
    message.buf = bytes;
    struct i2c_rdwr_ioctl_data transfer {};
    transfer.msgs = &message;
    transfer.nmsgs = 1;
    return ::ioctl(m_fd.get(), I2C_RDWR, &transfer) >= 0;
}

bool I2cLink::read_register(uint8_t dev, uint8_t reg, uint8_t& value)
{
    if (m_socket) {
        uint8_t answer = 0;
        if (!request(kOpRead, dev, reg, 0, answer)) {
            return false;
        }
        value = answer;
        return true;
    }
    uint8_t address = reg;
    uint8_t answer = 0;
    struct i2c_msg messages[2]{};
    messages[0].addr = dev;
    messages[0].flags = 0;
    messages[0].len = 1;
    messages[0].buf = &address;
    messages[1].addr = dev;
    messages[1].flags = I2C_M_RD;
    messages[1].len = 1;
    messages[1].buf = &answer;
    struct i2c_rdwr_ioctl_data transfer {};
    transfer.msgs = messages;
    transfer.nmsgs = 2;
    if (::ioctl(m_fd.get(), I2C_RDWR, &transfer) < 0) {
        return false;
    }
    value = answer;
    return true;
}
