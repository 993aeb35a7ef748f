#include <cstdio>

#include "camcontrol/Camcontrol.h"
#include "camcontrol/webui_bindings.h"

// Block inquiries 81 09 7E 7E bb FF (bb = 0x10 ... 0x16): each 16-byte reply carries twelve data
// bytes (3 ... 14) of camera state. Which byte fills which binding, and how the byte maps onto
// the binding's value, is the table below.

namespace {

constexpr int kBlockReplyLength = 16;

enum class block_transform : uint8_t {
    AsIs,
    OneIsOn,          // 1 gives 2 (On), anything else 3 (Off)
    PlusSix,          // byte + 6
    HighlightOn,      // 1 gives 16, anything else 0
    Stabilizer,       // 4 gives 2 on the S700 and 4 otherwise; anything else 3
    SelectUnlessOff,  // as is, but 3 when the matrix byte (5) is 3
    MinusFive,        // byte - 5
    GammaOffset,      // c >= 64: c - 64; c <= 63: 320 - c
    Effect,           // byte in bits 24-31, 0x21 in bits 16-23
};

struct block_field {  // NOLINT(clang-analyzer-optin.performance.Padding)
    uint8_t block;
    uint8_t byte;
    Camcontrol::webui_cmd_str Camcontrol::*member;
    block_transform transform;
};

using C = Camcontrol;
using T = block_transform;

constexpr block_field kBlockFields[] = {
    {0x10, 3, &C::Exposure_ExpMode, T::AsIs},
    {0x10, 4, &C::Exposure_SlowShutterEn, T::AsIs},
    {0x10, 5, &C::Exposure_SlowShutterLimit, T::AsIs},
    {0x10, 6, &C::Exposure_AeResponse, T::AsIs},
    {0x10, 7, &C::Exposure_GainLimit, T::AsIs},
    {0x10, 8, &C::Exposure_GainLevel, T::AsIs},
    {0x10, 9, &C::Exposure_ExpCompEn, T::OneIsOn},
    {0x10, 10, &C::Exposure_ExpCompLvl, T::AsIs},
    {0x10, 12, &C::Exposure_IrisLevel, T::AsIs},
    {0x10, 13, &C::Exposure_ShutterSpeed, T::PlusSix},
    {0x10, 14, &C::Exposure_BrightLevel, T::AsIs},
    {0x11, 3, &C::WhiteBalance_WbMode, T::AsIs},
    {0x11, 4, &C::WhiteBalance_RedGain, T::AsIs},
    {0x11, 5, &C::WhiteBalance_BlueGain, T::AsIs},
    {0x11, 8, &C::Exposure_GainPoint, T::AsIs},
    {0x11, 9, &C::Exposure_GainPointPosition, T::AsIs},
    {0x11, 10, &C::Exposure_ShutterMaxSpeed, T::AsIs},
    {0x11, 11, &C::Exposure_ShutterMinSpeed, T::AsIs},
    {0x11, 12, &C::Exposure_BackLight, T::AsIs},
    {0x11, 13, &C::Exposure_Spotlight, T::AsIs},
    {0x12, 7, &C::Picture_Flip, T::AsIs},
    {0x12, 8, &C::Picture_Mirror, T::AsIs},
    {0x12, 11, &C::Picture_NDFilter, T::AsIs},
    {0x12, 12, &C::Exposure_HighSensitivity, T::AsIs},
    {0x12, 13, &C::Picture_TWODNR, T::AsIs},
    {0x12, 14, &C::Picture_ThreeDNR, T::AsIs},
    {0x13, 3, &C::Picture_IRCutFilter, T::AsIs},
    {0x13, 4, &C::Picture_ChromeSuppress, T::AsIs},
    {0x13, 5, &C::Picture_HighlightComp, T::HighlightOn},
    {0x13, 8, &C::Picture_Stabilizer, T::Stabilizer},
    {0x14, 3, &C::WhiteBalance_Speed, T::AsIs},
    {0x14, 4, &C::WhiteBalance_Offset, T::AsIs},
    {0x14, 5, &C::WhiteBalance_Matrix, T::AsIs},
    {0x14, 6, &C::WhiteBalance_Select, T::SelectUnlessOff},
    {0x14, 7, &C::WhiteBalance_Level, T::AsIs},
    {0x14, 8, &C::WhiteBalance_Phase, T::AsIs},
    {0x14, 9, &C::WhiteBalance_RG, T::AsIs},
    {0x14, 10, &C::WhiteBalance_RB, T::AsIs},
    {0x14, 11, &C::WhiteBalance_GR, T::AsIs},
    {0x14, 12, &C::WhiteBalance_GB, T::AsIs},
    {0x14, 13, &C::WhiteBalance_BR, T::AsIs},
    {0x14, 14, &C::WhiteBalance_BG, T::AsIs},
    {0x15, 3, &C::Detail_Detail, T::AsIs},
    {0x15, 4, &C::Detail_Bandwidth, T::AsIs},
    {0x15, 5, &C::Detail_Crispening, T::AsIs},
    {0x15, 6, &C::Detail_HvBalance, T::MinusFive},
    {0x15, 7, &C::Detail_BwBalance, T::AsIs},
    {0x15, 8, &C::Detail_Limit, T::AsIs},
    {0x15, 9, &C::Detail_HighLightDetail, T::AsIs},
    {0x15, 10, &C::Detail_SuperLow, T::AsIs},
    {0x15, 11, &C::Detail_Level, T::AsIs},
    {0x16, 3, &C::Gamma_Settings, T::AsIs},
    {0x16, 4, &C::Gamma_Pattern, T::AsIs},
    {0x16, 5, &C::Gamma_PatternFine, T::AsIs},
    {0x16, 6, &C::Gamma_Offset, T::GammaOffset},
    {0x16, 7, &C::Gamma_Level, T::AsIs},
    {0x16, 8, &C::Gamma_BlackGammaLevel, T::AsIs},
    {0x16, 9, &C::Gamma_BlackLevelRange, T::AsIs},
    {0x16, 10, &C::Gamma_BlackLevel, T::AsIs},
    {0x16, 11, &C::Gamma_VisibilityEnhancer, T::AsIs},
    {0x16, 12, &C::Gamma_Effect, T::Effect},
};

// Signed, so that a byte below an offset gives a negative value rather than a wrapped one.
int64_t transformed(const block_field& field, const uint8_t* reply, camera_version model)
{
    const int64_t c = reply[field.byte];
    switch (field.transform) {
    case T::AsIs:
        return c;
    case T::OneIsOn:
        return c == 1 ? 2 : 3;
    case T::PlusSix:
        return c + 6;
    case T::HighlightOn:
        return c == 1 ? 16 : 0;
    case T::Stabilizer:
        if (c == 4) {
            return model == S700 ? 2 : 4;
        }
        return 3;
    case T::SelectUnlessOff:
        return reply[5] == 3 ? 3 : c;
    case T::MinusFive:
        return c - 5;
    case T::GammaOffset:
        return c >= 64 ? c - 64 : 320 - c;
    case T::Effect:
        return (c << 24) | (int64_t{0x21} << 16);
    }
    return c;
}

// Marks `value` as the binding's fresh camera value, unless its set command could not carry it
// (negative, or wider than its parameter field): such a value is refused, the binding keeps its
// state and its file is not touched.
void fill(Camcontrol& control, Camcontrol::webui_cmd_str Camcontrol::*member, int64_t value)
{
    Camcontrol::webui_cmd_str& cmd = control.*member;
    const webui_binding* row = webui_binding_for(member);
    const bool fits = value >= 0 && value <= INT64_C(0xFFFFFFFF) &&
                      (row == nullptr || row->width == 0 ||
                       webui_value_fits(static_cast<uint32_t>(value), row->width, row->byte_mode));
    if (!fits) {
        std::printf("web UI %s: camera value %lld does not fit the command, ignored\n",
                    cmd.Key.c_str(), static_cast<long long>(value));
        return;
    }
    cmd.mcu_val = static_cast<uint32_t>(value);
    cmd.mcu_val_read = true;
}

}  // namespace

void Camcontrol::apply_block_reply(uint8_t block, const uint8_t* reply)
{
    for (const block_field& field : kBlockFields) {
        if (field.block == block) {
            fill(*this, field.member, transformed(field, reply, enum_camera_version));
        }
    }
    // Values derived from two bytes, and the state kept outside the bindings.
    switch (block) {
    case 0x12:
        fill(*this, &Camcontrol::Picture_TWOTHREEDNR, reply[14] + 16 * int64_t{reply[13]});
        break;
    case 0x15:
        m_nFocusMode = reply[12];
        m_nFreeze = reply[14];
        break;
    case 0x16:
        fill(*this, &Camcontrol::Gamma_PatternREG, reply[4] * int64_t{10} + reply[5]);
        m_nMenuDisplay = reply[13];
        break;
    default:
        break;
    }
}

bool Camcontrol::BlockINQ(uint8_t block)
{
    visca_inq_command inquiry;
    visca::create_inqcommand(inquiry, 1, 0x7E, 0x7E, block);
    m_visca.visca_exec_inq_cmd(inquiry);
    if (!inquiry.inq_fill || inquiry.inq_length != kBlockReplyLength || inquiry.inq[2] != block) {
        return false;
    }
    apply_block_reply(block, inquiry.inq);
    return true;
}

bool Camcontrol::BlockINQ10()
{
    return BlockINQ(0x10);
}
bool Camcontrol::BlockINQ11()
{
    return BlockINQ(0x11);
}
bool Camcontrol::BlockINQ12()
{
    return BlockINQ(0x12);
}
bool Camcontrol::BlockINQ13()
{
    return BlockINQ(0x13);
}
bool Camcontrol::BlockINQ14()
{
    return BlockINQ(0x14);
}
bool Camcontrol::BlockINQ15()
{
    return BlockINQ(0x15);
}
bool Camcontrol::BlockINQ16()
{
    return BlockINQ(0x16);
}
