#pragma once

// The SSM2603 audio codec: 7-bit registers holding 9-bit values, sent as two bytes.

#include <cstdint>

#include "platform/i2c/i2c.h"

// One configuration write; a table ends at the row whose register is ENDREGADD.
struct CFGDATA {
    uint8_t byRegAddr;
    uint16_t byRegVal;
};
inline constexpr uint8_t ENDREGADD = 32;

class SSM2603 {
public:
    explicit SSM2603(I2c* bus) : p(bus) {}

    // Reset, 50 ms, the configuration, 200 ms, activate. False at the first failed write.
    bool StartSSM2603();
    bool EnableSSM2603();  // activate
    bool MuteSSM2603();    // deactivate
    // Register `reg` (7 bits) = `value` (9 bits): [(reg << 1) | bit 8, bits 7 to 0].
    bool WriteByte(uint8_t reg, uint16_t value);

    uint8_t DeviceAddress = 0x34 >> 1;
    I2c* p;

private:
    bool write_table(const CFGDATA* table);
};
