#include "i2c_bus_model.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr auto kResetTime = std::chrono::milliseconds(10);
constexpr uint8_t kResetRegister = 0xFF;
constexpr uint8_t kStatusRegister = 0x40;
constexpr uint8_t kStatusUp = 0xC0;

// The bus addresses that answer: the receiver's maps, transmitter, codec, clock generator,
// crosspoint.
constexpr uint8_t kAddresses[] = {0x4C, 0x40, 0x3E, 0x26, 0x32, 0x36,
                                  0x34, 0x22, 0x3B, 0x1A, 0x65, 0x50};

}  // namespace

I2cBusModel::I2cBusModel()
{
    for (const uint8_t address : kAddresses) {
        m_chips[address].fill(0);
    }
}

I2cBusModel::~I2cBusModel()
{
    if (!m_path.empty()) {
        ::unlink(m_path.c_str());
    }
}

bool I2cBusModel::listen(const std::string& path, std::string& error)
{
    struct sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        error = "bus socket path too long: " + path;
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    ::unlink(path.c_str());
    m_listener.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!m_listener ||
        ::bind(m_listener.get(), reinterpret_cast<const struct sockaddr*>(&addr), sizeof addr) !=
            0 ||
        ::listen(m_listener.get(), 16) != 0) {
        error = "cannot listen on " + path + ": " + std::strerror(errno);
        return false;
    }
    m_path = path;
    return true;
}

void I2cBusModel::add_poll_fds(std::vector<struct pollfd>& fds) const
{
    fds.push_back({m_listener.get(), POLLIN, 0});
    for (const Client& c : m_clients) {
        fds.push_back({c.fd.get(), POLLIN, 0});
    }
}

void I2cBusModel::handle(const std::vector<struct pollfd>& fds, FpgaModel& model)
{
    for (const struct pollfd& p : fds) {
        if (p.revents == 0) {
            continue;
        }
        if (p.fd == m_listener.get()) {
            const int fd = ::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                m_clients.push_back({vantor::UniqueFd(fd), {}});
            }
            continue;
        }
        for (Client& c : m_clients) {
            if (c.fd.get() != p.fd) {
                continue;
            }
            char buffer[256];
            const ssize_t n = ::read(c.fd.get(), buffer, sizeof buffer);
            if (n <= 0) {
                c.fd.reset();
                break;
            }
            c.pending.append(buffer, static_cast<size_t>(n));
            while (c.pending.size() >= 4) {
                uint8_t request[4];
                std::memcpy(request, c.pending.data(), 4);
                c.pending.erase(0, 4);
                uint8_t reply[2] = {};
                answer(request, reply, model);
                (void)::send(c.fd.get(), reply, sizeof reply, MSG_NOSIGNAL);
            }
        }
    }
    for (size_t i = 0; i < m_clients.size();) {
        if (!m_clients[i].fd) {
            m_clients.erase(m_clients.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
}

bool I2cBusModel::set_answering(uint8_t address, bool answering)
{
    if (m_chips.count(address) == 0) {
        return false;
    }
    if (answering) {
        m_muted.erase(address);
    } else {
        m_muted.insert(address);
    }
    return true;
}

void I2cBusModel::answer(const uint8_t request[4], uint8_t reply[2], FpgaModel& model)
{
    const uint8_t op = request[0];
    const uint8_t dev = request[1];
    const uint8_t reg = request[2];
    const uint8_t value = request[3];
    reply[0] = 0;
    reply[1] = 0;
    if (op == 'T' || op == 'O') {
        return;  // adapter settings
    }
    const auto chip = m_chips.find(dev);
    if ((op != 'W' && op != 'R') || chip == m_chips.end()) {
        reply[0] = 1;
        return;
    }
    model.scan();  // the daemon's register writes before this transaction come first in the log
    char text[32];
    if (m_muted.count(dev) != 0) {
        reply[0] = 1;
        std::snprintf(text, sizeof text, "i2c %02X:%02X no answer", dev, reg);
        model.note(text);
        return;
    }
    std::array<uint8_t, 256>& regs = chip->second;
    if (op == 'W') {
        regs[reg] = value;
        if (dev == kAdvIo && reg == kResetRegister && value != 0) {
            m_reset_done = std::chrono::steady_clock::now() + kResetTime;
        }
        std::snprintf(text, sizeof text, "i2c %02X:%02X=%02X", dev, reg, value);
    } else {
        uint8_t read = regs[reg];
        if (dev == kAdvIo && reg == kResetRegister) {
            read = std::chrono::steady_clock::now() < m_reset_done ? 0x80 : 0x00;
        } else if (dev == kSil && reg == kStatusRegister) {
            read = m_display ? kStatusUp : 0x00;
        }
        reply[1] = read;
        std::snprintf(text, sizeof text, "i2c %02X:%02X?%02X", dev, reg, read);
    }
    model.note(text);
}
