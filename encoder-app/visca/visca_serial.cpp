#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "HelperLib/sigint_block.h"
#include "vantor/board_root.h"
#include "visca/visca.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kPollPeriod = std::chrono::milliseconds(1);
// Polls without a new byte after which the end of a partly received packet is given up.
constexpr int kPacketEndWait = 20;
// The longest a discard of the receive queue may take: a noisy or floating receive line keeps
// delivering bytes, and the line's mutex is held meanwhile.
constexpr auto kDiscardBound = std::chrono::milliseconds(30);
// The longest a packet may take to be accepted by the line (16 bytes leave in about 17 ms).
constexpr auto kWriteBound = std::chrono::milliseconds(100);

// 9600 baud 8N1 raw, no flow control of either kind, modem-control lines ignored.
void make_raw_9600_8n1(termios& options, speed_t speed)
{
    ::cfsetispeed(&options, speed);
    ::cfsetospeed(&options, speed);
    options.c_cflag |= (CLOCAL | CREAD);
    options.c_cflag &= ~static_cast<tcflag_t>(PARENB | CSTOPB | CSIZE | CRTSCTS);
    options.c_cflag |= CS8;
    options.c_iflag = 0;  // also clears IXON, IXOFF and IXANY
    options.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    options.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ISIG);
}

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

    // A line whose settings cannot be read or applied (not a terminal, a driver that refuses
    // them) is not usable: it is refused like a device that cannot be opened.
    bool configured = ::tcgetattr(fd, &camOptions) == 0;
    if (configured) {
        make_raw_9600_8n1(camOptions, camBr);
        ::tcflush(fd, TCIFLUSH);
        configured = ::tcsetattr(fd, TCSANOW, &camOptions) == 0;
    }
    if (!configured) {
        std::printf("cannot configure %s: %s\n", camSerial.c_str(), std::strerror(errno));
        std::fflush(stdout);
        ::close(fd);
        return 0;
    }

    {
        const std::lock_guard<visca_line_mutex> lock(visca_uart_mutex);
        cam_fd = fd;
    }
    // Start with an empty table: both buffers hold the initial packets, nothing pending.
    cap_cmd_index = 0;
    exe_cmd_index = 1;
    exec_swap_count = 0;
    m_captured_swap = ~0U;
    m_drain_unfinished = false;
    init_visca_command();
    // Cleared before the thread starts, so the thread never sees a stale pause, and a pause set
    // once it runs is not undone here.
    vid_fmt_switch = false;
    exec_visca_Running = true;
    {
        // The engine thread leaves SIGINT to the program's main thread.
        const SigintBlock engine_thread_without_sigint;
        exec_visca_thread = std::thread(&visca::exec_visca, this);
    }
    start_late_reply_listener();
    return 1;
}

void visca::deinit_visca()
{
    stop_late_reply_listener();
    {
        const std::lock_guard<visca_line_mutex> lock(visca_uart_mutex);
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

void visca::wait_for_input() const
{
    pollfd readable = {cam_fd, POLLIN, 0};
    if (cam_fd < 0 || ::poll(&readable, 1, static_cast<int>(kPollPeriod.count())) < 0) {
        std::this_thread::sleep_for(kPollPeriod);
    }
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
        for (ssize_t i = 0; i < n; ++i) {
            m_late_replies.on_byte(data[done + i]);
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
    // The descriptor stays in blocking mode for everyone else; this write does not block, so a
    // line that stopped taking bytes (a full output queue, a stuck UART) costs at most
    // kWriteBound with the line's mutex held instead of blocking every transaction for ever.
    const int flags = ::fcntl(cam_fd, F_GETFL);
    if (flags < 0 || ::fcntl(cam_fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        return false;
    }
    const auto deadline = Clock::now() + kWriteBound;
    int done = 0;
    while (done < length) {
        const ssize_t n = ::write(cam_fd, data + done, static_cast<size_t>(length - done));
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (n == 0 || errno != EAGAIN || left.count() <= 0) {
            break;
        }
        pollfd writable = {cam_fd, POLLOUT, 0};
        ::poll(&writable, 1, static_cast<int>(left.count()));
    }
    ::fcntl(cam_fd, F_SETFL, flags);
    if (done != length) {
        // Whatever of the packet is still queued would be glued to the next packet, or reach the
        // camera as a stale burst once the line recovers: dropped.
        (void)::tcflush(cam_fd, TCOFLUSH);
    }
    return done == length;
}

void visca::visca_cls_rx()
{
    // Discards what is waiting. When the last byte taken from the line did not end a packet, the
    // rest of that packet is still on its way (a byte takes about 1 ms at 9600 baud): it is
    // discarded as well, so that it cannot be taken for the start of the next answer, but only
    // until kPacketEndWait polls pass without a byte. The whole discard ends after kDiscardBound
    // even when bytes keep arriving (a noisy line): what is left is then not this discard's.
    const auto deadline = Clock::now() + kDiscardBound;
    uint8_t scratch[64];
    int quiet_polls = 0;
    while (Clock::now() < deadline) {
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
