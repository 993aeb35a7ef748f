#pragma once

// The I2C bus of the video and audio chips ("/dev/i2c-0", below the board root). Every access
// opens the bus, performs one transfer and closes it again, so each transaction is self-contained.
// The transport is chosen when the node is opened (i2c_link.h): i2c-dev ioctls on a character
// device, the same requests as messages on a Unix socket (the virtual board).

#include <cstdint>
#include <string>

class I2c {
public:
    // Bus 0.
    I2c();
    // Bus `bus`: "/dev/i2c-<bus>".
    explicit I2c(unsigned bus);

    // Writes `value` to register `reg` of the chip at 7-bit address `dev`; waits 1 ms after a
    // successful transfer. On failure prints "ERR:WriteByte->..." and returns false.
    bool WriteByte(uint8_t dev, uint8_t reg, uint8_t value);
    // Reads register `reg` of `dev` into `value` (left unchanged on failure, with a message
    // "ERR:ReadByte->..." or the shared adapter-setting texts); waits 1 ms after success.
    bool ReadByte(uint8_t dev, uint8_t reg, uint8_t& value);

    std::string sysfs_i2c_path;
};
