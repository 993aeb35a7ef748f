#include "platform/uio/uio_interrupt.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr uint32_t kUioKey = 1;

}  // namespace

void UioInterrupt::Open()
{
    m_fd.reset(::open(m_path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY));
    if (!m_fd) {
        std::puts("can't open!");
    }
    while (!m_fd) {
        std::this_thread::sleep_for(kOpenRetry);
        m_fd.reset(::open(m_path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY));
    }
}

bool UioInterrupt::Wait()
{
    if (!m_fd) {
        Open();
    }
    const uint32_t key = kUioKey;
    ssize_t length = ::write(m_fd.get(), &key, sizeof key);
    if (length == static_cast<ssize_t>(sizeof key)) {
        uint32_t count = 0;
        length = ::read(m_fd.get(), &count, sizeof count);
        if (length == static_cast<ssize_t>(sizeof count)) {
            m_failing = false;
            return true;
        }
    }
    if (length > 0 || (length < 0 && errno == EINTR)) {
        return false;  // a short transfer or a signal: this pass is dropped
    }
    // Failed or hung up: the device behind the path may have been replaced.
    if (!m_failing) {
        std::printf("ERR: %s: %s, opening it again\n", m_path.c_str(),
                    length == 0 ? "hung up" : std::strerror(errno));
        m_failing = true;
    }
    m_fd.reset();
    std::this_thread::sleep_for(kErrorPause);
    return false;
}
