#pragma once

// One open I2C bus node with its transport decided at open:
// - a character device (the kernel's i2c-dev): I2C_RETRIES, I2C_TIMEOUT and I2C_RDWR ioctls;
// - a Unix stream socket (the virtual board's bus model): each request is one 4-byte message
//   [op, address, register, value] answered by a 2-byte message [status, value], status 0 = done,
//   anything else = the chip did not answer. Ops: 'T' retries (value), 'O' time-out in 10 ms
//   units (value; also the socket's receive time-out), 'W' register write, 'R' register read
//   (the answer's value is the register).

#include <cstdint>
#include <string>

#include "vantor/unique_fd.h"

class I2cLink {
public:
    // Opens `path` (already resolved below the board root). False when it cannot be opened or
    // is neither a character device nor a socket.
    bool open(const std::string& path);

    bool set_retries(uint8_t retries);
    bool set_timeout(uint8_t tens_of_ms);
    bool write_register(uint8_t dev, uint8_t reg, uint8_t value);
    bool read_register(uint8_t dev, uint8_t reg, uint8_t& value);

private:
    bool request(uint8_t op, uint8_t dev, uint8_t reg, uint8_t value, uint8_t& answer);

    vantor::UniqueFd m_fd;
    bool m_socket = false;
};
