#include "platform/i2c/i2c.h"

#include <cstdio>

#include "platform/delay/delay.h"
#include "platform/i2c/i2c_link.h"
#include "vantor/board_root.h"

namespace {

constexpr uint8_t kRetries = 1;
constexpr uint8_t kTimeout = 10;  // 100 ms

// Opens the bus and sets retries and time-out; prints the failure (`open_error` for the open).
bool open_bus(I2cLink& link, const std::string& path, const char* open_error)
{
    if (!link.open(vantor::board_path(path))) {
        std::puts(open_error);
        return false;
    }
    if (!link.set_retries(kRetries)) {
        std::puts("ERR:WriteByte->ioctl->I2C_RETRIES");
        return false;
    }
    if (!link.set_timeout(kTimeout)) {
        std::puts("ERR:WriteByte->ioctl->I2C_TIMEOUT");
        return false;
    }
    return true;
}

}  // namespace

I2c::I2c() : sysfs_i2c_path("/dev/i2c-0") {}

I2c::I2c(unsigned bus) : sysfs_i2c_path("/dev/i2c-" + std::to_string(bus)) {}

bool I2c::WriteByte(uint8_t dev, uint8_t reg, uint8_t value)
{
    I2cLink link;
    if (!open_bus(link, sysfs_i2c_path, "ERR:WriteByte->open")) {
        return false;
    }
    if (!link.write_register(dev, reg, value)) {
        std::puts("ERR:WriteByte->ioctl->I2C_RDWR");
        return false;
    }
    Delay_Ms(1);
    return true;
}

bool I2c::ReadByte(uint8_t dev, uint8_t reg, uint8_t& value)
{
    I2cLink link;
    if (!open_bus(link, sysfs_i2c_path, "ERR:ReadByte->open")) {
        return false;
    }
    if (!link.read_register(dev, reg, value)) {
        std::puts("ERR:ReadByte->ioctl->I2C_RDWR");
        return false;
    }
    Delay_Ms(1);
    return true;
}
