#include "fifo_feeder.h"

#include "vantor/file_io.h"

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
    if (m_unplugged) {
        return false;
    }
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

std::string FifoFeeder::card_command(const std::string& line)
{
    const std::string unplugged = m_path + ".unplugged";
    if (line == "unplug") {
        m_unplugged = true;
        m_fd.reset();  // the reader sees the end of its input: the card is gone
        if (!vantor::replace_file_atomically(unplugged, "")) {
            return "error cannot write " + unplugged;
        }
        return "ok unplugged";
    }
    if (line == "replug") {
        m_unplugged = false;
        ::unlink(unplugged.c_str());
        return "ok plugged in";
    }
    if (line == "overrun") {
        const std::string overrun = m_path + ".overrun";
        if (!vantor::replace_file_atomically(overrun, "")) {
            return "error cannot write " + overrun;
        }
        return "ok overrun at the next period";
    }
    return {};
}

const char* FifoFeeder::card_help()
{
    return "  unplug         the card goes away: the device's reads fail and it cannot be opened\n"
           "  replug         the card is back: the device opens again\n"
           "  overrun        the device overruns at its next period (the next read: -EPIPE)\n";
}
