#include "fake_camera.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace vantor::test {

FakeCamera::FakeCamera(const std::string& link_path) : m_link(link_path)
{
    UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    char name[128] = {};
    if (!master || ::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0 ||
        ::ptsname_r(master.get(), name, sizeof name) != 0) {
        return;
    }
    m_slave.reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!m_slave) {
        return;
    }
    termios raw = {};
    ::tcgetattr(m_slave.get(), &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(m_slave.get(), TCSANOW, &raw);
    ::unlink(link_path.c_str());
    if (::symlink(name, link_path.c_str()) != 0) {
        return;
    }
    m_master = std::move(master);
    m_thread = std::thread(&FakeCamera::run, this);
}

FakeCamera::~FakeCamera()
{
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    ::unlink(m_link.c_str());
}

void FakeCamera::respond(Responder responder)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_responder = std::move(responder);
}

std::vector<Bytes> FakeCamera::packets()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_packets;
}

bool FakeCamera::wait_for_packets(size_t count, std::chrono::milliseconds deadline)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, deadline, [&] { return m_packets.size() >= count; });
}

bool FakeCamera::inject(const Bytes& bytes)
{
    int before = 0;
    ::ioctl(m_slave.get(), FIONREAD, &before);
    if (::write(m_master.get(), bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        return false;
    }
    // The pty hands bytes to the slave side asynchronously: wait until they are there.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int waiting = 0;
        ::ioctl(m_slave.get(), FIONREAD, &waiting);
        if (waiting >= before + static_cast<int>(bytes.size())) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

bool FakeCamera::jam_line()
{
    m_jammed = true;
    UniqueFd writer(::open(m_link.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!writer) {
        return false;
    }
    // The pty makes room again for a while as it moves bytes between its buffers: it is full
    // once it has stayed unwritable for a moment.
    const Bytes filler(4096, 0x00);
    for (;;) {
        while (::write(writer.get(), filler.data(), filler.size()) > 0) {
        }
        if (errno != EAGAIN) {
            return false;
        }
        pollfd fd = {writer.get(), POLLOUT, 0};
        if (::poll(&fd, 1, 100) == 0) {
            return true;
        }
    }
}

void FakeCamera::unjam_line()
{
    // Everything written while the line was stuck is dropped: the reading thread is paused, so
    // the line is drained here until it has been quiet for a moment.
    for (;;) {
        pollfd fd = {m_master.get(), POLLIN, 0};
        if (::poll(&fd, 1, 20) <= 0) {
            break;
        }
        uint8_t buffer[4096];
        if (::read(m_master.get(), buffer, sizeof buffer) <= 0) {
            break;
        }
    }
    m_jammed = false;
}

void FakeCamera::run()
{
    Bytes packet;
    while (!m_stop) {
        if (m_jammed) {
            packet.clear();  // the start of a packet read as the jam began
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        pollfd fd = {m_master.get(), POLLIN, 0};
        if (::poll(&fd, 1, 10) <= 0 || (fd.revents & POLLIN) == 0) {
            continue;
        }
        uint8_t buffer[64];
        const ssize_t n = ::read(m_master.get(), buffer, sizeof buffer);
        for (ssize_t i = 0; i < n; ++i) {
            packet.push_back(buffer[i]);
            if (buffer[i] != 0xFF) {
                continue;
            }
            std::vector<Bytes> replies;
            {
                const std::lock_guard<std::mutex> lock(m_mutex);
                m_packets.push_back(packet);
                if (m_responder) {
                    replies = m_responder(packet, m_packets.size() - 1);
                }
            }
            m_changed.notify_all();
            for (const Bytes& reply : replies) {
                if (::write(m_master.get(), reply.data(), reply.size()) < 0) {
                    break;
                }
            }
            packet.clear();
        }
    }
}

}  // namespace vantor::test
