#include "command_channel.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "vantor/file_io.h"

bool CommandChannel::open(const std::string& uio_link, std::string& error)
{
    m_master.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!m_master || ::grantpt(m_master.get()) != 0 || ::unlockpt(m_master.get()) != 0) {
        error = std::string("cannot create the UIO pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    const char* slave_name = ::ptsname(m_master.get());
    if (slave_name == nullptr) {
        error = "cannot name the UIO pseudo-terminal";
        return false;
    }
    const std::string slave(slave_name);
    m_slave.reset(::open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    struct termios tio {};
    if (!m_slave || ::tcgetattr(m_slave.get(), &tio) != 0) {
        error = "cannot open " + slave;
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cc[VMIN] = 4;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(m_slave.get(), TCSANOW, &tio) != 0) {
        error = "cannot set raw mode on " + slave;
        return false;
    }
    ::unlink(uio_link.c_str());
    if (::symlink(slave.c_str(), uio_link.c_str()) != 0) {
        error = "cannot link " + uio_link + ": " + std::strerror(errno);
        return false;
    }
    m_link = uio_link;
    return true;
}

CommandChannel::~CommandChannel()
{
    if (!m_link.empty()) {
        ::unlink(m_link.c_str());
    }
}

void CommandChannel::on_master_readable()
{
    char buffer[256];
    for (;;) {
        const ssize_t n = ::read(m_master.get(), buffer, sizeof buffer);
        if (n <= 0) {
            return;
        }
        m_rearm.append(buffer, static_cast<size_t>(n));
        while (m_rearm.size() >= 4) {
            m_rearm.erase(0, 4);
            ++m_armed;
        }
    }
}

void CommandChannel::queue(const std::vector<uint8_t>& bytes)
{
    m_queue.insert(m_queue.end(), bytes.begin(), bytes.end());
}

void CommandChannel::raise_interrupt()
{
    const uint32_t count = ++m_interrupts;
    char word[4];
    std::memcpy(word, &count, sizeof word);
    (void)vantor::write_all(m_master.get(), std::string_view(word, sizeof word));
    --m_armed;
}

bool CommandChannel::step(FpgaModel& model)
{
    const uint32_t ready = model.read(OSD_REG_CMD_RX_READY);
    if (ready != 0) {
        model.drive(OSD_REG_CMD_RX_READY, 0);
        if (m_presented) {
            model.drive(OSD_REG_CMD_RX_VALID, 0);
            m_presented = false;
            ++m_acknowledged;
        } else {
            ++m_unexpected;
        }
    }
    // A byte is presented only while the daemon has the interrupt armed, that is while it waits
    // in the UIO read and looks at VALID only after the interrupt. While it polls without
    // waiting (an OSD show pending) it would otherwise take a byte twice whenever it reads VALID
    // again before this model has seen the acknowledgement and cleared VALID, which on hardware
    // happens at once.
    if (!m_presented && !m_queue.empty() && m_armed > 0) {
        model.drive(OSD_REG_CMD_RX_VALID, (static_cast<uint32_t>(m_queue.front()) << 1) | 1U);
        m_queue.pop_front();
        m_presented = true;
        raise_interrupt();
    }
    return m_presented;
}

std::string CommandChannel::status() const
{
    return "queued " + std::to_string(m_queue.size()) + " presented " +
           std::to_string(m_presented ? 1 : 0) + " acknowledged " + std::to_string(m_acknowledged) +
           " unexpected " + std::to_string(m_unexpected) + " armed " + std::to_string(m_armed) +
           " interrupts " + std::to_string(m_interrupts);
}
