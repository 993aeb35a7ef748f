#include "camcontrol/webui_bindings.h"

#include <cstdio>
#include <iterator>

#include "camcontrol/WebUILamda.h"

namespace {

using C = Camcontrol;
using G = webui_group;
using S = webui_sync;

constexpr bool kNibbles = false;
constexpr bool kBytes = true;

// clang-format off
constexpr webui_binding kBindings[] = {
    // group, member, key, set bytes, type, id, prefil, inq bytes, inq prefil, width, mode, sync, codecs
    {G::Exposure, &C::Exposure_ExpMode, "ExpMode", 1, 0x04, 0x39, 0, 0, 0, 1, kNibbles, S::Compare, WebUIExposureGetVal, WebUIExposureSetVal, nullptr, nullptr},
    {G::Exposure, &C::Exposure_ExpCompEn, "ExpCompEn", 1, 0x04, 0x3E, 0, 0, 0, 1, kNibbles, S::Compare, WebUIOnOffGetVal, WebUIOnOffSetVal, nullptr, nullptr},
    {G::Exposure, &C::Exposure_ExpCompLvl, "ExpCompLvl", 4, 0x04, 0x4E, 0, 0, 0, 2, kNibbles, S::Compare, WebUI128GetVal, WebUI128SetVal, nullptr, nullptr},
    {G::Exposure, &C::Exposure_AeResponse, "AeResponse", 1, 0x04, 0x5D, 0, 0, 0, 1, kBytes, S::Compare, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},
    {G::Exposure, &C::Exposure_SlowShutterEn, "SlowShutterEn", 1, 0x04, 0x5A, 0, 0, 0, 1, kNibbles, S::Compare, WebUIOnOffGetVal, WebUIOnOffSetVal, nullptr, nullptr},
    {G::Exposure, &C::Exposure_SlowShutterLimit, "SlowShutterLimit", 3, 0x04, 0x24, 0x590000, 1, 0x59, 2, kNibbles, S::Compare, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},
    {G::Exposure, &C::Exposure_ShutterSpeed, "ShutterSpeed", 4, 0x04, 0x4A, 0, 0, 0, 2, kNibbles, S::Compare, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},
    {G::Exposure, &C::Exposure_ShutterMaxSpeed, "ShutterMaxSpeed", 3, 0x05, 0x2A, 0, 0, 0, 2, kBytes, S::Compare, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},
    {G::Exposure, &C::Exposure_ShutterMinSpeed, "ShutterMinSpeed", 3, 0x05, 0x2A, 0x010000, 0, 0, 2, kBytes, S::Compare, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},
    {G::Exposure, &C::Exposure_GainLevel, "GainLevel", 4, 0x04, 0x4C, 0, 0, 0, 2, kNibbles, S::Compare, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},
    {G::Exposure, &C::Exposure_GainLimit, "GainLimit", 1, 0x04, 0x2C, 0, 0, 0, 1, kBytes, S::Compare, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},
    {G::Exposure, &C::Exposure_GainPoint, "GainPoint", 1, 0x05, 0x0C, 0, 0, 0, 1, kNibbles, S::Compare, WebUIOnOffGetVal, WebUIOnOffSetVal, nullptr, nullptr},
    {G::Exposure, &C::Exposure_GainPointPosition, "GainPointPosition", 2, 0x05, 0x4C, 0, 0, 0, 1, kBytes, S::Compare, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},
    {G::Exposure, &C::Exposure_IrisLevel, "IrisLevel", 4, 0x04, 0x4B, 0, 0, 0, 2, kNibbles, S::Compare, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},
    {G::Exposure, &C::Exposure_BrightLevel, "BrightLevel", 4, 0x04, 0x4D, 0, 0, 0, 2, kNibbles, S::Compare, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},
    {G::Exposure, &C::Exposure_HighSensitivity, "HighSensitivity", 1, 0x04, 0x5E, 0, 0, 0, 1, kNibbles, S::Compare, WebUIOnOffGetVal, WebUIOnOffSetVal, nullptr, nullptr},
    {G::Exposure, &C::Exposure_BackLight, "BackLight", 1, 0x04, 0x33, 0, 0, 0, 1, kNibbles, S::Compare, WebUIOnOffGetVal, WebUIOnOffSetVal, nullptr, nullptr},
    {G::Exposure, &C::Exposure_Spotlight, "Spotlight", 1, 0x04, 0x59, 0, 0, 0, 1, kNibbles, S::Compare, WebUIOnOffGetVal, WebUIOnOffSetVal, nullptr, nullptr},

    {G::WhiteBalance, &C::WhiteBalance_WbMode, "WbMode", 1, 0x04, 0x35, 0, 0, 0, 1, kNibbles, S::Compare, WebUIWbModeGetVal, WebUIWbModeSetVal, nullptr, nullptr},
    {G::WhiteBalance, &C::WhiteBalance_RedGain, "RedGain", 4, 0x04, 0x43, 0, 0, 0, 2, kNibbles, S::Compare, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},
    {G::WhiteBalance, &C::WhiteBalance_BlueGain, "BlueGain", 4, 0x04, 0x44, 0, 0, 0, 2, kNibbles, S::Compare, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},
    {G::WhiteBalance, &C::WhiteBalance_BG, "BG", 3, 0x7E, 0x01, 0x7F0000, 0, 0, 2, kNibbles, S::Compare, WebUIColorMatrixGetVal, WebUIColorMatrixSetVal, nullptr, nullptr},
    {G::WhiteBalance, &C::WhiteBalance_BR, "BR", 3, 0x7E, 0x01, 0x7E0000, 0, 0, 2, kNibbles, S::Compare, WebUIColorMatrixGetVal, WebUIColorMatrixSetVal, nullptr, nullptr},
    {G::WhiteBalance, &C::WhiteBalance_GB, "GB", 3, 0x7E, 0x01, 0x7D0000, 0, 0, 2, kNibbles, S::Compare, WebUIColorMatrixGetVal, WebUIColorMatrixSetVal, nullptr, nullptr},
    {G::WhiteBalance, &C::WhiteBalance_GR, "GR", 3, 0x7E, 0x01, 0x7C0000, 0, 0, 2, kNibbles, S::Compare, WebUIColorMatrixGetVal, WebUIColorMatrixSetVal, nullptr, nullptr},
    {G::WhiteBalance, &C::WhiteBalance_RB, "RB", 3, 0x7E, 0x01, 0x7B0000, 0, 0, 2, kNibbles, S::Compare, WebUIColorMatrixGetVal, WebUIColorMatrixSetVal, nullptr, nullptr},
    {G::WhiteBalance, &C::WhiteBalance_RG, "RG", 3, 0x7E, 0x01, 0x7A0000, 0, 0, 2, kNibbles, S::Compare, WebUIColorMatrixGetVal, WebUIColorMatrixSetVal, nullptr, nullptr},
    {G::WhiteBalance, &C::WhiteBalance_Level, "Level", 4, 0x04, 0x49, 0, 0, 0, 1, kNibbles, S::Compare, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},
    {G::WhiteBalance, &C::WhiteBalance_Matrix, "Matrix", 2, 0x7E, 0x01, 0x3D00, 0, 0, 1, kNibbles, S::Compare, WebUIOnOffGetVal, WebUIOnOffSetVal, nullptr, nullptr},
    {G::WhiteBalance, &C::WhiteBalance_Offset, "Offset", 3, 0x7E, 0x01, 0x2E0100, 0, 0, 1, kNibbles, S::Compare, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},
    {G::WhiteBalance, &C::WhiteBalance_Phase, "Phase", 4, 0x04, 0x4F, 0, 0, 0, 1, kNibbles, S::Compare, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},
    {G::WhiteBalance, &C::WhiteBalance_Select, "Select", 2, 0x7E, 0x01, 0x3D00, 0, 0, 1, kNibbles, S::Compare, WebUIWBSelGetVal, WebUIWBSelSetVal, nullptr, nullptr},
    {G::WhiteBalance, &C::WhiteBalance_Speed, "Speed", 1, 0x04, 0x56, 0, 0, 0, 1, kBytes, S::Compare, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},

    {G::Picture, &C::Picture_ChromeSuppress, "ChromeSuppress", 1, 0x04, 0x5F, 0, 0, 0, 1, kNibbles, S::Compare, WebUIChromeSuppressGetVal, WebUIChromeSuppressSetVal, nullptr, nullptr},
    {G::Picture, &C::Picture_Flip, "Flip", 1, 0x04, 0x66, 0, 0, 0, 1, kNibbles, S::Compare, WebUIOnOffGetVal, WebUIOnOffSetVal, nullptr, nullptr},
    {G::Picture, &C::Picture_HighlightComp, "HighlightComp", 2, 0x04, 0x14, 0, 0, 0, 2, kNibbles, S::Compare, WebUIHighlightCompGetVal, WebUIHighlightCompSetVal, nullptr, nullptr},
    {G::Picture, &C::Picture_IRCutFilter, "IRCutFilter", 1, 0x04, 0x01, 0, 0, 0, 1, kNibbles, S::Compare, WebUIOnOffGetVal, WebUIOnOffSetVal, nullptr, nullptr},
    {G::Picture, &C::Picture_Mirror, "Mirror", 1, 0x04, 0x61, 0, 0, 0, 1, kNibbles, S::Compare, WebUIOnOffGetVal, WebUIOnOffSetVal, nullptr, nullptr},
    {G::Picture, &C::Picture_NDFilter, "NDFilter", 2, 0x7E, 0x01, 0x5300, 0, 0, 1, kNibbles, S::CompareOnR8T, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},
    {G::Picture, &C::Picture_Stabilizer, "Stabilizer", 1, 0x04, 0x34, 0, 0, 0, 1, kNibbles, S::Compare, WebUIStabilizerR8tGetVal, WebUIStabilizerR8tSetVal, WebUIStabilizerS700GetVal, WebUIStabilizerS700SetVal},
    {G::Picture, &C::Picture_ThreeDNR, "ThreeDNR", 0, 0, 0, 0, 0, 0, 0, kNibbles, S::FileOnly, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},
    {G::Picture, &C::Picture_TWODNR, "TWODNR", 0, 0, 0, 0, 0, 0, 0, kNibbles, S::FileOnly, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},
    {G::Picture, &C::Picture_TWOTHREEDNR, "Picture_TWOTHREEDNR", 2, 0x05, 0x53, 0, 0, 0, 2, kNibbles, S::CompareNoFile, nullptr, nullptr, nullptr, nullptr},

    {G::Detail, &C::Detail_Bandwidth, "Bandwidth", 2, 0x05, 0x42, 0x0200, 0, 0, 1, kNibbles, S::Compare, WebUIDetailBandwidthGetVal, WebUIDetailBandwidthSetVal, nullptr, nullptr},
    {G::Detail, &C::Detail_BwBalance, "BwBalance", 2, 0x05, 0x42, 0x0500, 0, 0, 1, kNibbles, S::Compare, WebUIDetailBwBalanceGetVal, WebUIDetailBwBalanceSetVal, nullptr, nullptr},
    {G::Detail, &C::Detail_Crispening, "Crispening", 2, 0x05, 0x42, 0x0300, 0, 0, 1, kNibbles, S::Compare, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},
    {G::Detail, &C::Detail_Detail, "Detail", 2, 0x05, 0x42, 0x0100, 0, 0, 1, kNibbles, S::Compare, WebUIDetailDetailGetVal, WebUIDetailDetailSetVal, nullptr, nullptr},
    {G::Detail, &C::Detail_Level, "Level", 4, 0x04, 0x42, 0, 0, 0, 1, kNibbles, S::Compare, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},
    {G::Detail, &C::Detail_HighLightDetail, "HighLightDetail", 2, 0x05, 0x42, 0x0700, 0, 0, 1, kNibbles, S::Compare, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},
    {G::Detail, &C::Detail_HvBalance, "HvBalance", 2, 0x05, 0x42, 0x0400, 0, 0, 1, kNibbles, S::Compare, WebUIDetailHvBalanceGetVal, WebUIDetailHvBalanceSetVal, nullptr, nullptr},
    {G::Detail, &C::Detail_Limit, "Limit", 2, 0x05, 0x42, 0x0600, 0, 0, 1, kNibbles, S::Compare, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},
    {G::Detail, &C::Detail_SuperLow, "SuperLow", 2, 0x05, 0x42, 0x0800, 0, 0, 1, kBytes, S::Compare, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},

    {G::Gamma, &C::Gamma_BlackGammaLevel, "BlackGammaLevel", 3, 0x7E, 0x01, 0x720000, 0, 0, 2, kNibbles, S::Compare, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},
    {G::Gamma, &C::Gamma_BlackLevel, "BlackLevel", 3, 0x7E, 0x04, 0x450000, 0, 0, 2, kNibbles, S::Compare, WebUIBlackLevelGetVal, WebUIBlackLevelSetVal, nullptr, nullptr},
    {G::Gamma, &C::Gamma_BlackLevelRange, "BlackLevelRange", 1, 0x05, 0x5C, 0, 0, 0, 1, kNibbles, S::Compare, WebUIBlackLevelRangeGetVal, WebUIBlackLevelRangeSetVal, nullptr, nullptr},
    {G::Gamma, &C::Gamma_Effect, "Effect", 8, 0x04, 0x2D, 0, 0, 0, 8, kNibbles, S::Compare, WebUIEffectGetVal, WebUIEffectSetVal, nullptr, nullptr},
    {G::Gamma, &C::Gamma_Level, "Level", 3, 0x7E, 0x01, 0x710000, 0, 0, 2, kNibbles, S::Compare, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},
    {G::Gamma, &C::Gamma_Offset, "Offset", 6, 0x04, 0x1E, 0, 0, 0, 3, kNibbles, S::Compare, WebUIGammaOffsetGetVal, WebUIGammaOffsetSetVal, nullptr, nullptr},
    {G::Gamma, &C::Gamma_Settings, "Settings", 1, 0x04, 0x5B, 0, 0, 0, 1, kNibbles, S::Compare, WebUIGammaSettingsGetVal, WebUIGammaSettingsSetVal, nullptr, nullptr},
    {G::Gamma, &C::Gamma_Pattern, "Pattern", 0, 0, 0, 0, 0, 0, 0, kNibbles, S::FileOnly, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},
    {G::Gamma, &C::Gamma_PatternFine, "PatternFine", 0, 0, 0, 0, 0, 0, 0, kNibbles, S::FileOnly, WebUINormalGetVal, WebUINormalSetVal, nullptr, nullptr},
    {G::Gamma, &C::Gamma_PatternREG, "PatternREG", 3, 0x05, 0x5B, 0, 0, 0, 3, kNibbles, S::CompareNoFile, nullptr, nullptr, nullptr, nullptr},
    {G::Gamma, &C::Gamma_VisibilityEnhancer, "VisibilityEnhancer", 1, 0x04, 0x3D, 0, 0, 0, 1, kNibbles, S::Compare, WebUIGammaVisibilityEnhancerGetVal, WebUIGammaVisibilityEnhancerSetVal, nullptr, nullptr},

    {G::PTZ, &C::PTZ_SetPreset, "SetPreset", 2, 0x04, 0x3F, 0, 0, 0, 2, kNibbles, S::PresetRequest, nullptr, nullptr, nullptr, nullptr},
    {G::PTZ, &C::PTZ_RecallPreset, "RecallPreset", 2, 0x04, 0x3F, 0, 0, 0, 2, kNibbles, S::PresetRequest, nullptr, nullptr, nullptr, nullptr},
};
// clang-format on

void setup_group(Camcontrol& control, webui_group group)
{
    for (const webui_binding& row : kBindings) {
        if (row.group == group) {
            Camcontrol::setup_webui_cmd(control.*row.member, row.cmd_bytes, row.inq_bytes,
                                        row.cmd_type, row.cmd_id, row.prefil, row.inq_prefil,
                                        row.key);
        }
    }
}

}  // namespace

webui_binding_list webui_bindings()
{
    return {kBindings, std::size(kBindings)};
}

const webui_binding* webui_binding_for(Camcontrol::webui_cmd_str Camcontrol::*member)
{
    for (const webui_binding& row : kBindings) {
        if (row.member == member) {
            return &row;
        }
    }
    return nullptr;
}

bool webui_value_fits(uint32_t value, int width, bool byte_mode)
{
    const int bits = width * (byte_mode ? 8 : 4);
    if (bits >= 32) {
        return true;
    }
    return bits > 0 && (value >> static_cast<unsigned>(bits)) == 0;
}

void Camcontrol::setup_webui_cmd(webui_cmd_str& cmd, int cmd_bytes, int inq_cmd_bytes, int cmd_type,
                                 int cmd_id, uint64_t prefilcmd, uint64_t prefilinqcmd,
                                 const char* Key)
{
    visca::create_command(cmd.set_cmd, cmd_bytes, cmd_type, cmd_id, prefilcmd);
    visca::create_inqcommand(cmd.get_cmd, inq_cmd_bytes, cmd_type, cmd_id, prefilinqcmd);
    cmd.mcu_blk_read = true;
    cmd.sys_val = kWebUINeverSynced;
    cmd.mcu_val_read = false;
    cmd.ui_val = 0;
    cmd.mcu_val = 0;
    cmd.ui_update = false;
    cmd.fst_update_done = false;
    cmd.Key = Key;
    cmd.stale_ui_val.reset();
}

void Camcontrol::ExposureSetupCommands()
{
    setup_group(*this, webui_group::Exposure);
}
void Camcontrol::WhiteBalanceSetupCommands()
{
    setup_group(*this, webui_group::WhiteBalance);
}
void Camcontrol::PictureSetupCommands()
{
    setup_group(*this, webui_group::Picture);
}
void Camcontrol::DetailSetupCommands()
{
    setup_group(*this, webui_group::Detail);
}
void Camcontrol::GammaSetupCommands()
{
    setup_group(*this, webui_group::Gamma);
}
void Camcontrol::PTZSetupCommands()
{
    setup_group(*this, webui_group::PTZ);
}

void Camcontrol::setup_webui_cmd_list()
{
    ExposureSetupCommands();
    WhiteBalanceSetupCommands();
    PictureSetupCommands();
    DetailSetupCommands();
    GammaSetupCommands();
    PTZSetupCommands();
}

bool webui_command_carries(const Camcontrol::webui_cmd_str& cmd, int cmd_bytes, bool b_n)
{
    // The parameter bytes end just before FF; a binding never has more than the packet holds.
    const int ff_index = cmd.set_cmd.cmd_length - 1;
    if (cmd_bytes <= 0 || ff_index - cmd_bytes < 4) {
        std::printf("web UI %s: no parameter field for the value\n", cmd.Key.c_str());
        return false;
    }
    if (!webui_value_fits(cmd.ui_val, cmd_bytes, b_n)) {
        std::printf("web UI %s: value %u does not fit the command, not sent\n", cmd.Key.c_str(),
                    static_cast<unsigned>(cmd.ui_val));
        return false;
    }
    return true;
}

bool Camcontrol::visca_command_set_mcu(webui_cmd_str& cmd, int cmd_bytes, bool b_n)
{
    if (!webui_command_carries(cmd, cmd_bytes, b_n)) {
        return false;
    }
    visca_command& packet = cmd.set_cmd;
    const int ff_index = packet.cmd_length - 1;
    const unsigned unit_bits = b_n ? 8U : 4U;
    const unsigned unit_mask = b_n ? 0xFFU : 0x0FU;
    for (int i = 0; i < cmd_bytes; ++i) {
        const auto shift = static_cast<unsigned>(i) * unit_bits;
        const uint32_t unit = shift < 32U ? (cmd.ui_val >> shift) & unit_mask : 0U;
        packet.cmd[ff_index - 1 - i] = static_cast<uint8_t>(unit);
    }
    m_visca.visca_exec_cmd(packet);
    return true;
}
