#include "paced_line.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace camsim {

PacedLine::~PacedLine()
{
    if (!m_link.empty()) {
        ::unlink(m_link.c_str());
    }
}

bool PacedLine::open(const std::string& link_path, std::string& error)
{
    m_master.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!m_master || ::grantpt(m_master.get()) != 0 || ::unlockpt(m_master.get()) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    char name[128] = {};
    if (::ptsname_r(m_master.get(), name, sizeof name) != 0) {
        error = "cannot name the pseudo-terminal slave";
        return false;
    }
    m_slave_name = name;
    m_slave.reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!m_slave) {
        error = "cannot open " + m_slave_name + ": " + std::strerror(errno);
        return false;
    }
    termios raw = {};
    ::tcgetattr(m_slave.get(), &raw);
    ::cfmakeraw(&raw);
    ::cfsetispeed(&raw, B9600);
    ::cfsetospeed(&raw, B9600);
    ::tcsetattr(m_slave.get(), TCSANOW, &raw);
    ::fcntl(m_master.get(), F_SETFL, O_NONBLOCK);

    struct stat st = {};
    if (::lstat(link_path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = link_path + " exists and is not a symbolic link";
            return false;
        }
        ::unlink(link_path.c_str());
    }
    const size_t slash = link_path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        ::mkdir(link_path.substr(0, slash).c_str(), 0755);
    }
    if (::symlink(m_slave_name.c_str(), link_path.c_str()) != 0) {
        error = "cannot link " + link_path + ": " + std::strerror(errno);
        return false;
    }
    m_link = link_path;
    return true;
}

void PacedLine::receive(TimePoint now, std::deque<std::pair<uint8_t, TimePoint>>& bytes)
{
    uint8_t buffer[256];
    for (;;) {
        const ssize_t n = ::read(m_master.get(), buffer, sizeof buffer);
        if (n <= 0) {
            return;
        }
        for (ssize_t i = 0; i < n; ++i) {
            m_rx_free = std::max(m_rx_free, now) + kByteTime;
            bytes.emplace_back(buffer[i], m_rx_free);
        }
    }
}

TimePoint PacedLine::send(const Bytes& packet, TimePoint earliest)
{
    for (const uint8_t b : packet) {
        m_tx_free = std::max(m_tx_free, earliest) + kByteTime;
        m_tx.emplace_back(b, m_tx_free);
    }
    return m_tx_free;
}

void PacedLine::write_due(TimePoint now)
{
    while (!m_tx.empty() && m_tx.front().second <= now) {
        const uint8_t b = m_tx.front().first;
        m_tx.pop_front();
        // A full pty buffer (the firmware stopped reading) drops the byte, as a real line would.
        while (::write(m_master.get(), &b, 1) < 0 && errno == EINTR) {
        }
    }
}

std::optional<TimePoint> PacedLine::next_write() const
{
    if (m_tx.empty()) {
        return std::nullopt;
    }
    return m_tx.front().second;
}

}  // namespace camsim
