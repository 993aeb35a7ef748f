// The set packets of every web-UI binding and the field-width check on the value.
#include <gtest/gtest.h>

#include <set>

#include "camcontrol/webui_bindings.h"
#include "webui_fixture.h"

namespace {

using vantor::test::Bytes;
using webui_test::WebUIFixture;
using C = Camcontrol;

struct packet_case {
    Camcontrol::webui_cmd_str Camcontrol::*member;
    uint32_t value;
    const char* packet;
};

// Each binding with a value that sets every nibble/byte it writes to a distinct digit.
const packet_case kPackets[] = {
    {&C::Exposure_ExpMode, 0xE, "81 01 04 39 0E FF"},
    {&C::Exposure_ExpCompEn, 2, "81 01 04 3E 02 FF"},
    {&C::Exposure_ExpCompLvl, 0x7D, "81 01 04 4E 00 00 07 0D FF"},
    {&C::Exposure_AeResponse, 0x30, "81 01 04 5D 30 FF"},
    {&C::Exposure_SlowShutterEn, 3, "81 01 04 5A 03 FF"},
    {&C::Exposure_SlowShutterLimit, 0x12, "81 01 04 24 59 01 02 FF"},
    {&C::Exposure_ShutterSpeed, 0x15, "81 01 04 4A 00 00 01 05 FF"},
    {&C::Exposure_ShutterMaxSpeed, 0x1234, "81 01 05 2A 00 12 34 FF"},
    {&C::Exposure_ShutterMinSpeed, 0xABCD, "81 01 05 2A 01 AB CD FF"},
    {&C::Exposure_GainLevel, 0x2C, "81 01 04 4C 00 00 02 0C FF"},
    {&C::Exposure_GainLimit, 0x0F, "81 01 04 2C 0F FF"},
    {&C::Exposure_GainPoint, 2, "81 01 05 0C 02 FF"},
    {&C::Exposure_GainPointPosition, 0x41, "81 01 05 4C 00 41 FF"},
    {&C::Exposure_IrisLevel, 8, "81 01 04 4B 00 00 00 08 FF"},
    {&C::Exposure_BrightLevel, 0x1F, "81 01 04 4D 00 00 01 0F FF"},
    {&C::Exposure_HighSensitivity, 3, "81 01 04 5E 03 FF"},
    {&C::Exposure_Spotlight, 2, "81 01 04 59 02 FF"},
    {&C::Exposure_BackLight, 3, "81 01 04 33 03 FF"},
    {&C::WhiteBalance_WbMode, 9, "81 01 04 35 09 FF"},
    {&C::WhiteBalance_RedGain, 0xA5, "81 01 04 43 00 00 0A 05 FF"},
    {&C::WhiteBalance_BlueGain, 0x5A, "81 01 04 44 00 00 05 0A FF"},
    {&C::WhiteBalance_BG, 0x63, "81 01 7E 01 7F 06 03 FF"},
    {&C::WhiteBalance_BR, 0x64, "81 01 7E 01 7E 06 04 FF"},
    {&C::WhiteBalance_GB, 0x65, "81 01 7E 01 7D 06 05 FF"},
    {&C::WhiteBalance_GR, 0x66, "81 01 7E 01 7C 06 06 FF"},
    {&C::WhiteBalance_RB, 0x67, "81 01 7E 01 7B 06 07 FF"},
    {&C::WhiteBalance_RG, 0x68, "81 01 7E 01 7A 06 08 FF"},
    {&C::WhiteBalance_Level, 7, "81 01 04 49 00 00 00 07 FF"},
    {&C::WhiteBalance_Matrix, 3, "81 01 7E 01 3D 03 FF"},
    {&C::WhiteBalance_Offset, 5, "81 01 7E 01 2E 01 05 FF"},
    {&C::WhiteBalance_Phase, 4, "81 01 04 4F 00 00 00 04 FF"},
    {&C::WhiteBalance_Select, 5, "81 01 7E 01 3D 05 FF"},
    {&C::WhiteBalance_Speed, 0x05, "81 01 04 56 05 FF"},
    {&C::Picture_ChromeSuppress, 3, "81 01 04 5F 03 FF"},
    {&C::Picture_Flip, 2, "81 01 04 66 02 FF"},
    {&C::Picture_HighlightComp, 16, "81 01 04 14 01 00 FF"},
    {&C::Picture_IRCutFilter, 3, "81 01 04 01 03 FF"},
    {&C::Picture_Mirror, 2, "81 01 04 61 02 FF"},
    {&C::Picture_NDFilter, 1, "81 01 7E 01 53 01 FF"},
    {&C::Picture_Stabilizer, 4, "81 01 04 34 04 FF"},
    {&C::Picture_TWOTHREEDNR, 0x23, "81 01 05 53 02 03 FF"},
    {&C::Detail_Bandwidth, 4, "81 01 05 42 02 04 FF"},
    {&C::Detail_BwBalance, 3, "81 01 05 42 05 03 FF"},
    {&C::Detail_Crispening, 6, "81 01 05 42 03 06 FF"},
    {&C::Detail_Detail, 1, "81 01 05 42 01 01 FF"},
    {&C::Detail_Level, 9, "81 01 04 42 00 00 00 09 FF"},
    {&C::Detail_HighLightDetail, 2, "81 01 05 42 07 02 FF"},
    {&C::Detail_HvBalance, 7, "81 01 05 42 04 07 FF"},
    {&C::Detail_Limit, 5, "81 01 05 42 06 05 FF"},
    {&C::Detail_SuperLow, 0x1B, "81 01 05 42 08 1B FF"},
    {&C::Gamma_BlackGammaLevel, 0x4E, "81 01 7E 01 72 04 0E FF"},
    {&C::Gamma_BlackLevel, 0x30, "81 01 7E 04 45 03 00 FF"},
    {&C::Gamma_BlackLevelRange, 2, "81 01 05 5C 02 FF"},
    {&C::Gamma_Effect, 0x05210000, "81 01 04 2D 00 05 02 01 00 00 00 00 FF"},
    {&C::Gamma_Level, 0x1A, "81 01 7E 01 71 01 0A FF"},
    {&C::Gamma_Offset, 259, "81 01 04 1E 00 00 00 01 00 03 FF"},
    {&C::Gamma_Settings, 2, "81 01 04 5B 02 FF"},
    {&C::Gamma_PatternREG, 512, "81 01 05 5B 02 00 00 FF"},
    {&C::Gamma_VisibilityEnhancer, 6, "81 01 04 3D 06 FF"},
    {&C::PTZ_SetPreset, 18, "81 01 04 3F 01 02 FF"},
    {&C::PTZ_RecallPreset, 40, "81 01 04 3F 02 08 FF"},
};

const webui_binding* row_of(Camcontrol::webui_cmd_str Camcontrol::*member)
{
    for (const webui_binding& row : webui_bindings()) {
        if (row.member == member) {
            return &row;
        }
    }
    return nullptr;
}

TEST(WebUIBindingTable, EveryBindingOnceWithItsKeyAndInquiry)
{
    Camcontrol control;
    std::set<const Camcontrol::webui_cmd_str*> seen;
    size_t sent_bindings = 0;
    for (const webui_binding& row : webui_bindings()) {
        EXPECT_TRUE(seen.insert(&(control.*row.member)).second) << row.key;
        const auto& cmd = control.*row.member;
        EXPECT_EQ(cmd.Key, row.key);
        EXPECT_EQ(cmd.sys_val, 13579U);
        EXPECT_TRUE(cmd.mcu_blk_read);
        EXPECT_FALSE(cmd.fst_update_done);
        if (row.width > 0) {
            ++sent_bindings;
            // The single-value inquiry: the set packet's first four bytes with 09, then FF.
            const Bytes expected_inq =
                row.member == &C::Exposure_SlowShutterLimit
                    ? Bytes{0x81, 0x09, 0x04, 0x24, 0x59, 0xFF}
                    : Bytes{0x81, 0x09, cmd.set_cmd.cmd[2], cmd.set_cmd.cmd[3], 0xFF};
            EXPECT_EQ(Bytes(cmd.get_cmd.cmd, cmd.get_cmd.cmd + cmd.get_cmd.cmd_length),
                      expected_inq)
                << row.key;
        }
    }
    EXPECT_EQ(seen.size(), 18U + 15U + 10U + 9U + 11U + 2U);
    EXPECT_EQ(sent_bindings, std::size(kPackets));
}

class WebUISetPacket : public WebUIFixture {};

TEST_F(WebUISetPacket, ValueLayoutOfEverySetPacket)
{
    for (const packet_case& c : kPackets) {
        const webui_binding* row = row_of(c.member);
        ASSERT_NE(row, nullptr);
        auto& cmd = control.*c.member;
        cmd.ui_val = c.value;
        const size_t before = camera->packets().size();
        EXPECT_TRUE(control.visca_command_set_mcu(cmd, row->width, row->byte_mode)) << row->key;
        ASSERT_TRUE(camera->wait_for_packets(before + 1, std::chrono::seconds(5)));
        EXPECT_EQ(webui_test::hex(camera->packets()[before]), c.packet) << row->key;
        EXPECT_TRUE(cmd.set_cmd.comp) << row->key;
    }
}

TEST_F(WebUISetPacket, ValueBeyondItsFieldIsRefused)
{
    struct refused {
        Camcontrol::webui_cmd_str Camcontrol::*member;
        uint32_t value;
    };
    const refused cases[] = {
        {&C::Exposure_ExpMode, 0x10},     {&C::Exposure_IrisLevel, 0x100},
        {&C::Exposure_AeResponse, 0x100}, {&C::Exposure_ShutterMaxSpeed, 0x10000},
        {&C::Gamma_Offset, 0x1000},       {&C::Exposure_ExpCompLvl, 0xFFFFFF80U},
        {&C::Picture_TWOTHREEDNR, 0x100}, {&C::Gamma_PatternREG, 0x1000},
    };
    const size_t before = camera->packets().size();
    for (const refused& c : cases) {
        const webui_binding* row = row_of(c.member);
        ASSERT_NE(row, nullptr);
        auto& cmd = control.*c.member;
        cmd.ui_val = c.value;
        EXPECT_FALSE(control.visca_command_set_mcu(cmd, row->width, row->byte_mode)) << row->key;
    }
    // A packet that would follow a refused one shows that none of them went out.
    control.Exposure_ExpMode.ui_val = 3;
    EXPECT_TRUE(control.visca_command_set_mcu(control.Exposure_ExpMode, 1, false));
    ASSERT_TRUE(camera->wait_for_packets(before + 1, std::chrono::seconds(5)));
    const auto sent = commands_since(before);
    ASSERT_EQ(sent.size(), 1U);
    EXPECT_EQ(sent[0], "81 01 04 39 03 FF");
}

TEST(WebUIFieldWidth, Limits)
{
    EXPECT_TRUE(webui_value_fits(0xF, 1, false));
    EXPECT_FALSE(webui_value_fits(0x10, 1, false));
    EXPECT_TRUE(webui_value_fits(0xFFF, 3, false));
    EXPECT_FALSE(webui_value_fits(0x1000, 3, false));
    EXPECT_TRUE(webui_value_fits(0xFF, 1, true));
    EXPECT_FALSE(webui_value_fits(0x100, 1, true));
    EXPECT_TRUE(webui_value_fits(0xFFFFFFFFU, 8, false));
    EXPECT_FALSE(webui_value_fits(0, 0, false));
}

}  // namespace
