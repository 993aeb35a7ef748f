#pragma once

// The serial port "/dev/ttyPS1" (below the board root) as a raw 8N1 line. Part of the platform
// library; the running daemon does not use it.

#include <atomic>
#include <cstdint>
#include <string>

class uart {
public:
    // Opens and configures the port (115200 baud, 8N1, raw, read time-out 0.5 s). Prints "Can't
    // Open Serial Port" when it cannot be opened; every operation then fails.
    uart();
    virtual ~uart();
    uart(const uart&) = delete;
    uart& operator=(const uart&) = delete;

    // Configures the open port: raw, receiver on, modem lines ignored, read time-out 0.5 s (VTIME
    // 5, VMIN 0). `parity_mode` 0 none, 1 odd, 2 even. Returns 0, or -1 when the port is not open
    // or a setting is refused.
    int uart_config(uint32_t baud, uint32_t data_bits, uint32_t parity, uint32_t stop_bits);
    // Sends one byte; returns the bytes written (1) or -1.
    int uart_write(uint8_t byte);
    // Waits up to 2 s for input, then reads up to `n` bytes; returns the count, or -1 on time-out
    // or error.
    int uart_read(uint8_t* buf, unsigned n);
    // True while a write is in progress.
    bool uart_check_locked() const { return locked.load(); }

    std::string filepath = "/dev/ttyPS1";
    uint32_t baudrate = 115200;
    uint32_t start_bit_num = 1;
    uint32_t data_bit_num = 8;
    uint32_t parity_mode = 0;
    uint32_t stop_bit_num = 1;
    int fd = -1;
    std::atomic<bool> locked{false};
};
