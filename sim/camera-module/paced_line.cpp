#include "paced_line.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "line_settings.h"

namespace camsim {

namespace {

constexpr auto kFifoIdle = kByteTime * UartFifo::kIdleBytes;
constexpr uint8_t kNoiseByte = 0x00;  // a floating receive line reads as zero bytes
constexpr auto kNoiseCatchUp = kByteTime * 16;

}  // namespace

void UartFifo::push(const LineByte& byte, std::vector<LineByte>& burst)
{
    // The byte's start bit came one byte time before its last bit.
    if (const auto idle_end = timeout(); idle_end && byte.leaves - kByteTime >= *idle_end) {
        burst.insert(burst.end(), m_held.begin(), m_held.end());
        m_held.clear();
    }
    m_held.push_back(byte);
    if (m_held.size() >= kDepth) {
        burst.insert(burst.end(), m_held.begin(), m_held.end());
        m_held.clear();
    }
}

void UartFifo::flush_idle(TimePoint now, std::vector<LineByte>& burst)
{
    if (const auto idle_end = timeout(); idle_end && *idle_end <= now) {
        burst.insert(burst.end(), m_held.begin(), m_held.end());
        m_held.clear();
    }
}

std::optional<TimePoint> UartFifo::timeout() const
{
    if (m_held.empty()) {
        return std::nullopt;
    }
    return m_held.back().leaves + kFifoIdle;
}

bool UartFifo::holds_reply() const
{
    return std::any_of(m_held.begin(), m_held.end(), [](const LineByte& b) { return !b.noise; });
}

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
    raw.c_cflag |= CREAD | CLOCAL;
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
        m_tx.push_back({b, m_tx_free, false});
    }
    return m_tx_free;
}

void PacedLine::queue_noise(TimePoint now)
{
    // Noise runs back to back; after a stall longer than kNoiseCatchUp it resumes from there.
    m_tx_free = std::max(m_tx_free, now - kNoiseCatchUp) + kByteTime;
    m_tx.push_back({kNoiseByte, m_tx_free, true});
}

void PacedLine::set_noise(bool on, TimePoint now)
{
    m_noise = on;
    if (on && m_tx.empty()) {
        m_tx_free = std::max(m_tx_free, now);
        queue_noise(now);
    }
}

void PacedLine::deliver(const std::vector<LineByte>& bytes)
{
    if (bytes.empty()) {
        return;
    }
    Bytes values;
    values.reserve(bytes.size());
    for (const LineByte& b : bytes) {
        values.push_back(b.value);
    }
    // A full pty buffer (the firmware stopped reading) drops the bytes, as a real line would.
    while (::write(m_master.get(), values.data(), values.size()) < 0 && errno == EINTR) {
    }
}

void PacedLine::write_due(TimePoint now)
{
    std::vector<LineByte> out;
    for (;;) {
        if (m_noise && m_tx.empty()) {
            queue_noise(now);
        }
        if (m_tx.empty() || m_tx.front().leaves > now) {
            break;
        }
        if (m_strict) {
            m_fifo.push(m_tx.front(), out);
        } else {
            out.push_back(m_tx.front());
        }
        m_tx.pop_front();
    }
    m_fifo.flush_idle(now, out);
    deliver(out);
}

std::optional<TimePoint> PacedLine::next_write() const
{
    std::optional<TimePoint> next = m_fifo.timeout();
    if (!m_tx.empty() && (!next || m_tx.front().leaves < *next)) {
        next = m_tx.front().leaves;
    }
    return next;
}

bool PacedLine::busy() const
{
    return m_fifo.holds_reply() ||
           std::any_of(m_tx.begin(), m_tx.end(), [](const LineByte& b) { return !b.noise; });
}

std::string PacedLine::settings_fault() const
{
    termios settings = {};
    if (::tcgetattr(m_slave.get(), &settings) != 0) {
        return "unreadable-settings";
    }
    return line_settings_fault(settings);
}

}  // namespace camsim
