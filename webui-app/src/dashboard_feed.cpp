#include "dashboard_feed.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "vantor/board_root.h"
#include "vantor/file_io.h"
#include "vantor/unique_fd.h"

namespace {

constexpr const char* kPrefix = R"({"dashboard_vid_input":")";
constexpr std::size_t kMaxPending = 4096;  // an object never comes near; a flood is dropped

}  // namespace

DashboardFeed::~DashboardFeed()
{
    stop();
}

// Makes the path a FIFO of this reader and opens it; -1 on failure. A plain file found there (an
// object encoder-app wrote while no reader was up) is taken first. The FIFO is made under a
// temporary name and renamed into place, so a writer never finds the path missing.
int DashboardFeed::install_pipe(ino_t& inode)
{
    const std::string path = vantor::board_path(kDashboardPipe);
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        std::string text;
        if (vantor::read_file(path, text)) {
            take(text);
        }
    }
    const std::string temporary = path + ".webui-new";
    ::unlink(temporary.c_str());
    if (::mkfifo(temporary.c_str(), 0622) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
        std::printf("webui-app: cannot make the dashboard pipe %s: %s\n", path.c_str(),
                    std::strerror(errno));
        ::unlink(temporary.c_str());
        return -1;
    }
    // Read and write: the FIFO never reports end-of-file between writers, and opening never blocks.
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) {
        std::printf("webui-app: cannot open the dashboard pipe %s: %s\n", path.c_str(),
                    std::strerror(errno));
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    inode = st.st_ino;
    return fd;
}

bool DashboardFeed::start()
{
    ino_t inode = 0;
    const int fd = install_pipe(inode);
    if (fd < 0 || ::pipe2(m_wake, O_CLOEXEC) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return false;
    }
    m_running = true;
    m_thread = std::thread([this, fd, inode] { run(fd, inode); });
    return true;
}

void DashboardFeed::stop()
{
    if (m_thread.joinable()) {
        m_running = false;
        const char byte = 0;
        (void)::write(m_wake[1], &byte, 1);
        m_thread.join();
    }
    for (int& fd : m_wake) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

void DashboardFeed::run(int raw_fd, ino_t inode)
{
    vantor::UniqueFd fd(raw_fd);
    std::string pending;
    while (m_running) {
        pollfd fds[2] = {{fd.get(), POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        const int ready = ::poll(fds, 2, 1000);
        if (ready == 0) {
            // A writer that found no FIFO (a race with the start) replaced it with a plain file:
            // take its object and put the FIFO back.
            struct stat st {};
            const std::string path = vantor::board_path(kDashboardPipe);
            if (::lstat(path.c_str(), &st) != 0 || st.st_ino != inode || !S_ISFIFO(st.st_mode)) {
                const int replaced = install_pipe(inode);
                if (replaced >= 0) {
                    fd.reset(replaced);
                }
            }
            continue;
        }
        if (ready < 0 || (fds[1].revents & POLLIN) != 0) {
            continue;
        }
        char buffer[512];
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n <= 0) {
            continue;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
        // Each object ends with "}"; take every complete one, keep a partial one for the next read.
        std::size_t end = 0;
        while ((end = pending.find('}')) != std::string::npos) {
            take(pending.substr(0, end + 1));
            pending.erase(0, end + 1);
        }
        if (pending.size() > kMaxPending) {
            pending.clear();
        }
    }
}

void DashboardFeed::take(const std::string& object)
{
    const std::size_t start = object.find(kPrefix);
    if (start == std::string::npos) {
        return;
    }
    const std::size_t value = start + std::strlen(kPrefix);
    const std::size_t close = object.find('"', value);
    if (close == std::string::npos || close - value > 64) {
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_status = object.substr(value, close - value);
        ++m_sequence;
    }
    m_changed.notify_all();
}

std::string DashboardFeed::status(uint64_t& sequence) const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    sequence = m_sequence;
    return m_status;
}

bool DashboardFeed::wait_newer(uint64_t sequence, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_sequence != sequence; });
}
