#include <cstring>

#include "camcontrol/Camcontrol.h"

// The block-inquiry reply of VISCA over IP and the proprietary channel: 103 bytes, header
// 01 11 00 5B s s s s (the length field reads 0x5B although 95 payload bytes follow: controllers
// rely on it as it is), then 90 50 EE and one byte per setting. Which byte carries which value,
// and how, is the table below; bytes it does not name are 00.

namespace {

constexpr int kReplyLength = 103;
constexpr uint16_t kWrittenLength = 0x5B;

enum class reply_transform : uint8_t {
    Low,          // bits 0-7
    Bits4to7,     // (v >> 4) & 0x0F
    Bits0to3,     // v & 0x0F
    Bits24to27,   // (v >> 24) & 0x0F
    Div10,        // v / 10
    Mod10,        // v % 10
    GammaOffset,  // v + 64 for v <= 255, else 64 - v, low byte
    High,         // bits 8-15
};

enum class reply_source : uint8_t { Binding, State, VideoFormat, CameraVersion, Fixed };

struct reply_byte {  // NOLINT(clang-analyzer-optin.performance.Padding)
    uint8_t byte;
    reply_source source;
    Camcontrol::webui_cmd_str Camcontrol::*binding;
    std::atomic<uint8_t> Camcontrol::*state;
    reply_transform transform;
    uint8_t fixed;
};

using C = Camcontrol;
using S = reply_source;
using T = reply_transform;

constexpr reply_byte binding(uint8_t byte, C::webui_cmd_str C::*member, T transform = T::Low)
{
    return {byte, S::Binding, member, nullptr, transform, 0};
}
constexpr reply_byte state(uint8_t byte, std::atomic<uint8_t> C::*member)
{
    return {byte, S::State, nullptr, member, T::Low, 0};
}
constexpr reply_byte fixed(uint8_t byte, uint8_t value)
{
    return {byte, S::Fixed, nullptr, nullptr, T::Low, value};
}

constexpr reply_byte kReplyBytes[] = {
    fixed(8, 0x90),
    fixed(9, 0x50),
    fixed(10, 0xEE),
    binding(11, &C::Exposure_ExpMode),
    binding(12, &C::Exposure_SlowShutterEn),
    binding(13, &C::Exposure_SlowShutterLimit),
    binding(14, &C::Exposure_AeResponse),
    binding(15, &C::Exposure_GainLimit),
    binding(16, &C::Exposure_GainLevel),
    binding(17, &C::Exposure_ExpCompEn),
    binding(18, &C::Exposure_ExpCompLvl),
    binding(20, &C::Exposure_IrisLevel),
    binding(21, &C::Exposure_ShutterSpeed),
    binding(22, &C::Exposure_BrightLevel),
    binding(23, &C::WhiteBalance_WbMode),
    binding(24, &C::WhiteBalance_RedGain),
    binding(25, &C::WhiteBalance_BlueGain),
    binding(28, &C::Exposure_GainPoint),
    binding(29, &C::Exposure_GainPointPosition),
    binding(30, &C::Exposure_ShutterMaxSpeed),
    binding(31, &C::Exposure_ShutterMinSpeed),
    binding(32, &C::Exposure_BackLight),
    binding(33, &C::Exposure_Spotlight),
    binding(39, &C::Picture_Flip),
    binding(40, &C::Picture_Mirror),
    binding(43, &C::Exposure_HighSensitivity),
    binding(44, &C::Picture_NDFilter),
    binding(45, &C::Picture_TWOTHREEDNR, T::Bits4to7),
    binding(46, &C::Picture_TWOTHREEDNR, T::Bits0to3),
    binding(47, &C::Picture_IRCutFilter),
    binding(48, &C::Picture_ChromeSuppress),
    binding(49, &C::Picture_ChromeSuppress, T::Bits4to7),
    state(51, &C::m_nBlackLight),
    binding(52, &C::Picture_Stabilizer),
    binding(59, &C::WhiteBalance_Speed),
    binding(60, &C::WhiteBalance_Offset),
    binding(61, &C::WhiteBalance_Matrix),
    binding(62, &C::WhiteBalance_Select),
    binding(63, &C::WhiteBalance_Level),
    binding(64, &C::WhiteBalance_Phase),
    binding(65, &C::WhiteBalance_RG),
    binding(66, &C::WhiteBalance_RB),
    binding(67, &C::WhiteBalance_GR),
    binding(68, &C::WhiteBalance_GB),
    binding(69, &C::WhiteBalance_BR),
    binding(70, &C::WhiteBalance_BG),
    binding(71, &C::Detail_Detail),
    binding(72, &C::Detail_Bandwidth),
    binding(73, &C::Detail_Crispening),
    binding(74, &C::Detail_HvBalance),
    binding(75, &C::Detail_BwBalance),
    binding(76, &C::Detail_Limit),
    binding(77, &C::Detail_HighLightDetail),
    binding(78, &C::Detail_SuperLow),
    binding(79, &C::Detail_Level),
    state(80, &C::m_nFocusMode),
    state(81, &C::m_nFreeze),
    state(82, &C::m_nPowerStatus),
    binding(83, &C::Gamma_Settings),
    binding(84, &C::Gamma_PatternREG, T::Div10),
    binding(85, &C::Gamma_PatternREG, T::Mod10),
    binding(86, &C::Gamma_Offset, T::GammaOffset),
    binding(87, &C::Gamma_Level),
    binding(88, &C::Gamma_BlackGammaLevel),
    binding(89, &C::Gamma_BlackLevelRange),
    binding(90, &C::Gamma_BlackLevel),
    binding(91, &C::Gamma_VisibilityEnhancer),
    binding(92, &C::Gamma_Effect, T::Bits24to27),
    state(93, &C::m_nMenuDisplay),
    state(94, &C::m_nMute),
    {95, S::VideoFormat, nullptr, nullptr, T::Low, 0},
    {96, S::CameraVersion, nullptr, nullptr, T::High, 0},
    {97, S::CameraVersion, nullptr, nullptr, T::Low, 0},
    fixed(100, 0xA5),
    fixed(101, 0x5A),
    fixed(102, 0xFF),
};

constexpr bool rows_inside_reply()
{
    for (const reply_byte& row : kReplyBytes) {
        if (row.byte >= kReplyLength) {
            return false;
        }
    }
    return true;
}
static_assert(rows_inside_reply(), "every row names a byte of the 103-byte reply");

uint8_t transformed(uint32_t v, reply_transform transform)
{
    constexpr uint32_t kOffset = 64;
    constexpr uint32_t kByteMax = 255;
    switch (transform) {
    case T::Bits4to7:
        return static_cast<uint8_t>((v >> 4U) & 0x0FU);
    case T::Bits0to3:
        return static_cast<uint8_t>(v & 0x0FU);
    case T::Bits24to27:
        return static_cast<uint8_t>((v >> 24U) & 0x0FU);
    case T::Div10:
        return static_cast<uint8_t>(v / 10U);
    case T::Mod10:
        return static_cast<uint8_t>(v % 10U);
    case T::GammaOffset:
        return static_cast<uint8_t>(v <= kByteMax ? v + kOffset : kOffset - v);
    case T::High:
        return static_cast<uint8_t>(v >> 8U);
    case T::Low:
        break;
    }
    return static_cast<uint8_t>(v);
}

}  // namespace

void Camcontrol::build_voip_inq_blk(uint32_t sequence_number, uint8_t (&reply)[103]) const
{
    static_assert(sizeof(reply) == kReplyLength);
    std::memset(reply, 0, sizeof(reply));
    voip_write_header(VOIP_VISCA_REPLY, kWrittenLength, sequence_number, reply);
    // The rows of one value (84/85, 45/46, 48/49, 96/97) follow each other: the value is loaded
    // once for them, so a pair never mixes a value from before another thread's write with one
    // after.
    const reply_byte* previous = nullptr;
    uint32_t value = 0;
    for (const reply_byte& row : kReplyBytes) {
        const bool same_value = previous != nullptr && previous->source == row.source &&
                                row.source != S::Fixed && previous->binding == row.binding &&
                                previous->state == row.state;
        previous = &row;
        if (same_value) {
            reply[row.byte] = transformed(value, row.transform);
            continue;
        }
        value = row.fixed;
        switch (row.source) {
        case S::Binding:
            value = (this->*row.binding).sys_val;
            break;
        case S::State:
            value = (this->*row.state).load();
            break;
        case S::VideoFormat:
            value = video_format_unit;
            break;
        case S::CameraVersion:
            value = m_nCam_Version;
            break;
        case S::Fixed:
            break;
        }
        reply[row.byte] = transformed(value, row.transform);
    }
}
