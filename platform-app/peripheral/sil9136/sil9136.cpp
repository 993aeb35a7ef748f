#include "peripheral/sil9136/sil9136.h"

#include <cstdio>

#include "peripheral/sil9136/vmodes_table.h"
#include "peripheral/std/std.h"
#include "platform/delay/delay.h"

namespace {

constexpr uint8_t kStatusUp = 0xC0;  // register 40: bits 7 and 6

struct TpiWrite {
    uint8_t reg;
    uint8_t value;
};

// clang-format off
constexpr TpiWrite kAudio[] = {
    {0x26, 0x80}, {0x1F, 0x80}, {0x20, 0x90}, {0x21, 0x00}, {0x22, 0x00}, {0x23, 0x00},
    {0x24, 0x02}, {0x25, 0x0B}, {0x27, 0x00},
};
constexpr TpiWrite kAudioInfoFrame[] = {
    {0xBF, 0xC2}, {0xC0, 0x84}, {0xC1, 0x01}, {0xC2, 0x0A}, {0xC3, 0x70}, {0xC4, 0x01},
};
// clang-format on

uint8_t low(uint32_t value)
{
    return static_cast<uint8_t>(value & 0xFFU);
}

uint8_t high(uint32_t value)
{
    return static_cast<uint8_t>((value >> 8) & 0xFFU);
}

// The timing row of an HDMI standard: its own for 0 to 20, the 6G row for a dual-link standard.
bool vmode_row(unsigned std, unsigned& row)
{
    if (std < VMODES_COUNT) {
        row = std;
        return true;
    }
    if (std >= VID_DL3G_2160P23_98 && std <= VID_DL3G_2160P30) {
        row = std - (VID_DL3G_2160P23_98 - VID_6G_2160P23_98);
        return true;
    }
    return false;
}

}  // namespace

int Sil9136_3::SetSil9136_3(unsigned std, OUT_COLOR_SPACE space)
{
    unsigned row = 0;
    if (!vmode_row(std, row)) {
        std::printf(
            "ERR: SetSil9136_3: video standard %u is not a known standard, nothing changed\n", std);
        return 0;
    }
    const VModeInfoType& m = VModesTable[row];
    const bool yuv = space == COLOR_YUV;
    const uint8_t c = yuv ? 0x20 : 0x00;
    const uint8_t v = m.ModeId.Mode_C1;
    const auto put = [this](uint8_t reg, uint8_t value) {
        (void)p->WriteByte(SIL9136_TPI_ADDR, reg, value);
    };

    Curr_VIC = static_cast<int>(std);
    std::puts("SetSil9136_3 Begin");
    for (GpioValueE level : {GPIO_LEVEL_HIGH, GPIO_LEVEL_LOW, GPIO_LEVEL_HIGH}) {
        if (rst != nullptr) {
            rst->SetGpioValue(level);
        }
        Delay_Ms(5);
    }

    put(0xC7, 0x00);  // register-programming mode
    Delay_Ms(5);
    put(0xBC, 0x01);  // internal page write
    put(0xBD, 0x82);
    put(0xBE, 0x25);
    put(0x1E, 0x00);  // power state D0

    put(0x00, low(m.PixClk));
    put(0x01, high(m.PixClk));
    put(0x02, low(m.Tag.VFreq));
    put(0x03, high(m.Tag.VFreq));
    put(0x04, low(m.Tag.Total.Pixels));
    put(0x05, high(m.Tag.Total.Pixels));
    put(0x06, low(m.Tag.Total.Lines));
    put(0x07, high(m.Tag.Total.Lines));

    put(0x08, row == VID_6G_2160P30 ? 0x60 : 0x70);
    put(0x09, 0x0A);
    put(0x0A, yuv ? 0x06 : 0x04);
    put(0x0B, 0x00);
    put(0x60, row == VID_HD_1080I60 ? 0x86 : 0x84);

    const auto h_sync_high = static_cast<uint8_t>(((m._656.HBit2HSync >> 8) & 0x03U) | 0x40U);
    put(0x62, low(m._656.HBit2HSync));
    put(0x63, h_sync_high);
    put(0x64, low(m._656.Field2Offset));
    put(0x65, static_cast<uint8_t>((m._656.Field2Offset >> 8) & 0x0FU));
    put(0x66, low(m._656.HLength));
    put(0x67, static_cast<uint8_t>((m._656.HLength >> 8) & 0x03U));
    put(0x68, m._656.VBit2VSync);
    put(0x69, m._656.VLength);

    for (const TpiWrite& w : kAudio) {
        put(w.reg, w.value);
    }

    // AVI InfoFrame: the checksum makes the frame's bytes sum to 0.
    put(0x0C, static_cast<uint8_t>(0x100U - ((v + c + 75U) & 0xFFU)));
    put(0x0D, c);
    put(0x0E, 0xAA);
    put(0x0F, 0x10);
    put(0x10, v);
    for (uint8_t reg = 0x11; reg <= 0x19; ++reg) {
        put(reg, 0x00);
    }
    put(0x63, h_sync_high);

    for (const TpiWrite& w : kAudioInfoFrame) {
        put(w.reg, w.value);
    }
    for (uint8_t reg = 0xC5; reg <= 0xCD; ++reg) {
        put(reg, 0x00);
    }
    put(0x1A, 0x01);  // output enable
    put(0x3C, 0x01);  // interrupt enable
    Delay_Ms(1);
    std::puts("SetSil9136_3 Done");
    return 1;
}

bool Sil9136_3::GetSil9136_3_Debug()
{
    uint8_t status = 0;
    if (!p->ReadByte(SIL9136_TPI_ADDR, 0x40, status)) {
        return false;
    }
    return (status & kStatusUp) == kStatusUp;
}
