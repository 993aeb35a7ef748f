#include "peripheral/sil9136/sil9136.h"

#include <cstdio>

#include "peripheral/sil9136/vmodes_table.h"
#include "peripheral/std/std.h"
#include "platform/delay/delay.h"

namespace {

constexpr uint8_t kStatusUp = 0xC0;  // register 40: bits 7 and 6

// Where a step's value comes from: a constant, a wait, or the standard's timing row and the colour
// space.
enum class From : uint8_t {
    VALUE,       // the step's value
    WAIT_MS,     // no write: wait the step's value in ms
    PIXCLK_LOW,  // pixel clock, 10 kHz units
    PIXCLK_HIGH,
    VFREQ_LOW,  // field rate, 0.01 Hz
    VFREQ_HIGH,
    PIXELS_LOW,  // total pixels per line
    PIXELS_HIGH,
    LINES_LOW,  // total lines
    LINES_HIGH,
    INPUT_BUS,      // 60 for 2160p30, else 70
    OUTPUT_FORMAT,  // 06 YUV, 04 RGB
    SYNC_MODE,      // 86 for 1080i60, else 84
    HSYNC_LOW,      // embedded sync: HBit2HSync bits 7-0
    HSYNC_HIGH,     // HBit2HSync bits 9-8, OR 0x40
    FIELD2_LOW,     // Field2Offset bits 7-0
    FIELD2_HIGH,    // Field2Offset bits 11-8
    HLENGTH_LOW,
    HLENGTH_HIGH,  // HLength bits 9-8
    VBIT2VSYNC,
    VLENGTH,
    AVI_CHECKSUM,  // makes the AVI InfoFrame's bytes sum to 0
    AVI_COLOUR,    // 20 YUV, 00 RGB
    AVI_VIC,       // CEA-861 video code
};

struct TpiStep {
    From from;
    uint8_t reg;
    uint8_t value;
};

// What the values are computed from.
struct TpiContext {
    const VModeInfoType& m;
    unsigned row;
    bool yuv;
};

constexpr From V = From::VALUE;

// clang-format off
// Everything after the reset pulse, in order.
constexpr TpiStep kProgram[] = {
    {V, 0xC7, 0x00},  // register-programming mode
    {From::WAIT_MS, 0, 5},
    {V, 0xBC, 0x01}, {V, 0xBD, 0x82}, {V, 0xBE, 0x25},  // internal page write
    {V, 0x1E, 0x00},  // power state D0
    // Video timing.
    {From::PIXCLK_LOW, 0x00, 0}, {From::PIXCLK_HIGH, 0x01, 0},
    {From::VFREQ_LOW, 0x02, 0}, {From::VFREQ_HIGH, 0x03, 0},
    {From::PIXELS_LOW, 0x04, 0}, {From::PIXELS_HIGH, 0x05, 0},
    {From::LINES_LOW, 0x06, 0}, {From::LINES_HIGH, 0x07, 0},
    {From::INPUT_BUS, 0x08, 0}, {V, 0x09, 0x0A}, {From::OUTPUT_FORMAT, 0x0A, 0}, {V, 0x0B, 0x00},
    {From::SYNC_MODE, 0x60, 0},
    // Embedded-sync timing.
    {From::HSYNC_LOW, 0x62, 0}, {From::HSYNC_HIGH, 0x63, 0},
    {From::FIELD2_LOW, 0x64, 0}, {From::FIELD2_HIGH, 0x65, 0},
    {From::HLENGTH_LOW, 0x66, 0}, {From::HLENGTH_HIGH, 0x67, 0},
    {From::VBIT2VSYNC, 0x68, 0}, {From::VLENGTH, 0x69, 0},
    // Audio.
    {V, 0x26, 0x80}, {V, 0x1F, 0x80}, {V, 0x20, 0x90}, {V, 0x21, 0x00}, {V, 0x22, 0x00},
    {V, 0x23, 0x00}, {V, 0x24, 0x02}, {V, 0x25, 0x0B}, {V, 0x27, 0x00},
    // AVI InfoFrame.
    {From::AVI_CHECKSUM, 0x0C, 0}, {From::AVI_COLOUR, 0x0D, 0}, {V, 0x0E, 0xAA}, {V, 0x0F, 0x10},
    {From::AVI_VIC, 0x10, 0},
    {V, 0x11, 0x00}, {V, 0x12, 0x00}, {V, 0x13, 0x00}, {V, 0x14, 0x00}, {V, 0x15, 0x00},
    {V, 0x16, 0x00}, {V, 0x17, 0x00}, {V, 0x18, 0x00}, {V, 0x19, 0x00},
    {From::HSYNC_HIGH, 0x63, 0},
    // Audio InfoFrame.
    {V, 0xBF, 0xC2}, {V, 0xC0, 0x84}, {V, 0xC1, 0x01}, {V, 0xC2, 0x0A}, {V, 0xC3, 0x70},
    {V, 0xC4, 0x01}, {V, 0xC5, 0x00}, {V, 0xC6, 0x00}, {V, 0xC7, 0x00}, {V, 0xC8, 0x00},
    {V, 0xC9, 0x00}, {V, 0xCA, 0x00}, {V, 0xCB, 0x00}, {V, 0xCC, 0x00}, {V, 0xCD, 0x00},
    {V, 0x1A, 0x01},  // output enable
    {V, 0x3C, 0x01},  // interrupt enable
    {From::WAIT_MS, 0, 1},
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

uint8_t value_of(const TpiStep& step, const TpiContext& c)
{
    const VModeInfoType& m = c.m;
    const uint8_t colour = c.yuv ? 0x20 : 0x00;
    switch (step.from) {
    case From::VALUE:
    case From::WAIT_MS:
        return step.value;
    case From::PIXCLK_LOW:
        return low(m.PixClk);
    case From::PIXCLK_HIGH:
        return high(m.PixClk);
    case From::VFREQ_LOW:
        return low(m.Tag.VFreq);
    case From::VFREQ_HIGH:
        return high(m.Tag.VFreq);
    case From::PIXELS_LOW:
        return low(m.Tag.Total.Pixels);
    case From::PIXELS_HIGH:
        return high(m.Tag.Total.Pixels);
    case From::LINES_LOW:
        return low(m.Tag.Total.Lines);
    case From::LINES_HIGH:
        return high(m.Tag.Total.Lines);
    case From::INPUT_BUS:
        return c.row == VID_6G_2160P30 ? 0x60 : 0x70;
    case From::OUTPUT_FORMAT:
        return c.yuv ? 0x06 : 0x04;
    case From::SYNC_MODE:
        return c.row == VID_HD_1080I60 ? 0x86 : 0x84;
    case From::HSYNC_LOW:
        return low(m._656.HBit2HSync);
    case From::HSYNC_HIGH:
        return static_cast<uint8_t>(((m._656.HBit2HSync >> 8) & 0x03U) | 0x40U);
    case From::FIELD2_LOW:
        return low(m._656.Field2Offset);
    case From::FIELD2_HIGH:
        return static_cast<uint8_t>((m._656.Field2Offset >> 8) & 0x0FU);
    case From::HLENGTH_LOW:
        return low(m._656.HLength);
    case From::HLENGTH_HIGH:
        return static_cast<uint8_t>((m._656.HLength >> 8) & 0x03U);
    case From::VBIT2VSYNC:
        return m._656.VBit2VSync;
    case From::VLENGTH:
        return m._656.VLength;
    case From::AVI_CHECKSUM:
        return static_cast<uint8_t>(0x100U - ((m.ModeId.Mode_C1 + colour + 75U) & 0xFFU));
    case From::AVI_COLOUR:
        return colour;
    case From::AVI_VIC:
        return m.ModeId.Mode_C1;
    }
    return 0;
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
    const TpiContext context{VModesTable[row], row, space == COLOR_YUV};
    Curr_VIC = static_cast<int>(std);
    std::puts("SetSil9136_3 Begin");
    for (GpioValueE level : {GPIO_LEVEL_HIGH, GPIO_LEVEL_LOW, GPIO_LEVEL_HIGH}) {
        if (rst != nullptr) {
            rst->SetGpioValue(level);
        }
        Delay_Ms(5);
    }
    for (const TpiStep& step : kProgram) {
        if (step.from == From::WAIT_MS) {
            Delay_Ms(step.value);
        } else {
            (void)p->WriteByte(SIL9136_TPI_ADDR, step.reg, value_of(step, context));
        }
    }
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
