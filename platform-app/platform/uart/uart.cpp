#include "platform/uart/uart.h"

#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "vantor/board_root.h"

namespace {

speed_t speed_of(uint32_t baud)
{
    switch (baud) {
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    default:
        return B0;
    }
}

tcflag_t size_of(uint32_t data_bits)
{
    switch (data_bits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

}  // namespace

uart::uart()
{
    const std::string path = vantor::board_path(filepath);
    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::printf("Can't Open Serial Port\n");
        return;
    }
    ::tcflush(fd, TCIOFLUSH);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    if (uart_config(baudrate, data_bit_num, parity_mode, stop_bit_num) == 0) {
        std::printf("uart Serial Port init DONE\n");
    }
}

uart::~uart()
{
    if (fd >= 0) {
        ::close(fd);
    }
}

int uart::uart_config(uint32_t baud, uint32_t data_bits, uint32_t parity, uint32_t stop_bits)
{
    if (fd < 0) {
        return -1;
    }
    const speed_t speed = speed_of(baud);
    if (speed == B0) {
        std::printf("ERR: uart_config: unsupported baud rate %u\n", baud);
        return -1;
    }
    struct termios tio {};
    if (::tcgetattr(fd, &tio) != 0) {
        std::printf("ERR: uart_config: tcgetattr\n");
        return -1;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= size_of(data_bits);
    if (parity == 1) {
        tio.c_cflag |= PARENB | PARODD;
    } else if (parity == 2) {
        tio.c_cflag |= PARENB;
    }
    if (stop_bits == 2) {
        tio.c_cflag |= CSTOPB;
    }
    tio.c_cc[VTIME] = 5;
    tio.c_cc[VMIN] = 0;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        std::printf("ERR: uart_config: tcsetattr\n");
        return -1;
    }
    baudrate = baud;
    data_bit_num = data_bits;
    parity_mode = parity;
    stop_bit_num = stop_bits;
    return 0;
}

int uart::uart_write(uint8_t byte)
{
    if (fd < 0) {
        return -1;
    }
    locked = true;
    const ssize_t n = ::write(fd, &byte, 1);
    locked = false;
    return static_cast<int>(n);
}

int uart::uart_read(uint8_t* buf, unsigned n)
{
    if (fd < 0 || buf == nullptr) {
        return -1;
    }
    // poll rather than select: select cannot watch a descriptor numbered FD_SETSIZE or above.
    struct pollfd pfd {
        fd, POLLIN, 0
    };
    if (::poll(&pfd, 1, 2000) <= 0) {
        return -1;
    }
    const ssize_t got = ::read(fd, buf, n);
    return got < 0 ? -1 : static_cast<int>(got);
}
