#include "peripheral/ssm2603/ssm2603.h"

#include "platform/delay/delay.h"

namespace {

constexpr uint8_t kResetReg = 0x0F;

// clang-format off
constexpr CFGDATA ssmCfgData1[] = {
    {0x06, 0x01A},  // power management
    {0x00, 0x017},  // left ADC volume
    {0x01, 0x017},  // right ADC volume
    {0x04, 0x000},  // analogue path
    {0x07, 0x04A},  // digital audio interface
    {0x08, 0x000},  // sampling rate
    {0x10, 0x1EB},  // ALC control 1
    {0x12, 0x0F1},  // noise gate
    {ENDREGADD, 0},
};
constexpr CFGDATA ssmCfgData2[] = {{0x09, 0x001}, {ENDREGADD, 0}};  // activate
constexpr CFGDATA ssmCfgData3[] = {{0x09, 0x000}, {ENDREGADD, 0}};  // deactivate
// clang-format on

}  // namespace

bool SSM2603::WriteByte(uint8_t reg, uint16_t value)
{
    const auto first = static_cast<uint8_t>((reg << 1) | ((value >> 8) & 0x01U));
    return p->WriteByte(DeviceAddress, first, static_cast<uint8_t>(value & 0xFFU));
}

bool SSM2603::write_table(const CFGDATA* table)
{
    for (; table->byRegAddr != ENDREGADD; ++table) {
        if (!WriteByte(table->byRegAddr, table->byRegVal)) {
            return false;
        }
    }
    return true;
}

bool SSM2603::StartSSM2603()
{
    if (!WriteByte(kResetReg, 0)) {
        return false;
    }
    Delay_Ms(50);
    if (!write_table(ssmCfgData1)) {
        return false;
    }
    Delay_Ms(200);
    return write_table(ssmCfgData2);
}

bool SSM2603::EnableSSM2603()
{
    return write_table(ssmCfgData2);
}

bool SSM2603::MuteSSM2603()
{
    return write_table(ssmCfgData3);
}
