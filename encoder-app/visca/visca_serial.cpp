#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "vantor/board_root.h"
#include "visca/visca.h"

namespace {

constexpr int kPollCount = 200;
constexpr auto kPollPeriod = std::chrono::milliseconds(1);
// Polls without a new byte after which the end of a partly received packet is given up.
constexpr int kPacketEndWait = 20;

}  // namespace

visca::~visca()
{
    deinit_visca();
}

int visca::init_visca()
{
    if (exec_visca_thread.joinable()) {
        // Already up: a second start would lose the running thread.
        return 1;
    }
    const std::string path = vantor::board_path(camSerial);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::printf("cannot open %s\n", camSerial.c_str());
        std::fflush(stdout);
        return 0;
    }
    std::printf("%s opened successfully\n", camSerial.c_str());
    std::fflush(stdout);
    // Back to blocking mode; every reader asks how many bytes wait before it reads.
    ::fcntl(fd, F_SETFL, 0);

    ::tcgetattr(fd, &camOptions);
    ::cfsetispeed(&camOptions, camBr);
    ::cfsetospeed(&camOptions, camBr);
    camOptions.c_cflag |= (CLOCAL | CREAD);
    camOptions.c_cflag &= ~static_cast<tcflag_t>(PARENB | CSTOPB | CSIZE);
    camOptions.c_cflag |= CS8;
    camOptions.c_iflag = 0;
    camOptions.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    camOptions.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ISIG);
    ::tcflush(fd, TCIFLUSH);
    ::tcsetattr(fd, TCSANOW, &camOptions);

    {
        const std::lock_guard<std::mutex> lock(visca_uart_mutex);
        cam_fd = fd;
    }
    // Start with an empty table: both buffers hold the initial packets, nothing pending.
    cap_cmd_index = 0;
    exe_cmd_index = 1;
    init_visca_command();
    exec_visca_Running = true;
    exec_visca_thread = std::thread(&visca::exec_visca, this);
    vid_fmt_switch = false;
    return 1;
}

void visca::deinit_visca()
{
    {
        const std::lock_guard<std::mutex> lock(visca_uart_mutex);
        if (cam_fd != -1) {
            ::close(cam_fd);
            cam_fd = -1;
        }
    }
    // Clear the flag, then wake the engine: it may be blocked on its wake-up event with no
    // producer left to notify it.
    exec_visca_Running = false;
    m_visca_ndi_event.notify();
    if (exec_visca_thread.joinable()) {
        exec_visca_thread.join();
    }
}

int visca::bytes_waiting() const
{
    int waiting = 0;
    if (cam_fd < 0 || ::ioctl(cam_fd, FIONREAD, &waiting) != 0) {
        return -1;
    }
    return waiting;
}

bool visca::read_bytes(uint8_t* data, int count)
{
    int done = 0;
    while (done < count) {
        const ssize_t n = ::read(cam_fd, data + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<int>(n);
        m_last_rx_byte = data[done - 1];
    }
    return true;
}

bool visca::write_packet(const uint8_t* data, int length) const
{
    if (cam_fd < 0 || length <= 0 || length > VISCA_PACKET_SIZE) {
        return false;
    }
    int done = 0;
    while (done < length) {
        const ssize_t n = ::write(cam_fd, data + done, static_cast<size_t>(length - done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<int>(n);
    }
    return true;
}

bool visca::wait_for_bytes(int count, int& waiting) const
{
    for (int poll = 0; poll < kPollCount; ++poll) {
        waiting = bytes_waiting();
        if (waiting < 0) {
            return false;
        }
        if (waiting >= count) {
            return true;
        }
        std::this_thread::sleep_for(kPollPeriod);
    }
    return false;
}

void visca::visca_cls_rx()
{
    // Discards what is waiting. When the last byte taken from the line did not end a packet, the
    // rest of that packet is still on its way (a byte takes about 1 ms at 9600 baud): it is
    // discarded as well, so that it cannot be taken for the start of the next answer. That wait
    // is bounded; a line that never sends FF costs at most kPacketEndWait.
    uint8_t scratch[64];
    int quiet_polls = 0;
    for (;;) {
        const int waiting = bytes_waiting();
        if (waiting < 0) {
            return;
        }
        if (waiting == 0) {
            if (m_last_rx_byte == 0xFF || quiet_polls >= kPacketEndWait) {
                return;
            }
            ++quiet_polls;
            std::this_thread::sleep_for(kPollPeriod);
            continue;
        }
        quiet_polls = 0;
        const int chunk =
            waiting < static_cast<int>(sizeof scratch) ? waiting : static_cast<int>(sizeof scratch);
        if (!read_bytes(scratch, chunk)) {
            return;
        }
    }
}
