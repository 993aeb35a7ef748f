#include "fifo_feeder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool FifoFeeder::prepare(const std::string& path, std::string& error)
{
    m_path = path;
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        if (!S_ISFIFO(info.st_mode)) {
            error = path + " exists and is not a FIFO";
            return false;
        }
        return true;
    }
    if (::mkfifo(path.c_str(), 0660) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    m_created = true;
    return true;
}

FifoFeeder::~FifoFeeder()
{
    m_fd.reset();
    if (m_created) {
        ::unlink(m_path.c_str());
    }
}

bool FifoFeeder::write_block(const std::uint8_t* block, std::size_t size)
{
    if (!m_fd) {
        // Fails with ENXIO while no reader has the FIFO open.
        m_fd.reset(::open(m_path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
        if (!m_fd) {
            return false;
        }
    }
    const ssize_t written = ::write(m_fd.get(), block, size);
    if (written == static_cast<ssize_t>(size)) {
        return true;
    }
    if (written < 0 && errno == EPIPE) {
        // The reader closed the device: open again once the next one comes.
        m_fd.reset();
    }
    return false;
}
