#pragma once

// A recording I2C bus (and Delay_Ms) for tests of the chip drivers. platform_app_recorded links it
// in place of the real bus, so a test sees every transaction and every wait in order, as text:
// "4C:FF=80" a write, "4C:FF?" a read, "wait 5" a 5 ms wait. Chips behave as register files: a
// read returns the last value written or set (0 at first), or the next of the values queued.

#include <cstdint>
#include <string>
#include <vector>

namespace vantor::test {

class RecordingI2c {
public:
    // Forgets the log, the register files, the queued reads and the failures.
    static void reset();
    static void set(uint8_t dev, uint8_t reg, uint8_t value);
    // The next reads of (dev, reg) return these, one each, before the register file's value.
    static void queue_reads(uint8_t dev, uint8_t reg, const std::vector<uint8_t>& values);
    // Every transaction with (dev, reg) fails (is logged with a trailing "!").
    static void fail(uint8_t dev, uint8_t reg);
    static std::vector<std::string> log();
    // The log joined with single spaces.
    static std::string text();
};

}  // namespace vantor::test
