#include <gtest/gtest.h>

#include <vector>

#include "visca/visca.h"

namespace {

std::vector<uint8_t> bytes_of(const uint8_t* data, int length)
{
    return {data, data + length};
}

TEST(ViscaPacket, CommandParametersAreBigEndianRightAligned)
{
    visca_command cmd;
    cmd.ack = cmd.comp = cmd.cmd_fill = true;
    visca::create_command(cmd, 4, 0x04, 0x47, 0x0A0B0C0D);
    EXPECT_EQ(bytes_of(cmd.cmd, cmd.cmd_length),
              (std::vector<uint8_t>{0x81, 0x01, 0x04, 0x47, 0x0A, 0x0B, 0x0C, 0x0D, 0xFF}));
    EXPECT_FALSE(cmd.ack);
    EXPECT_FALSE(cmd.comp);
    EXPECT_FALSE(cmd.cmd_fill);

    // Only the low bytes of the value fit; parameters before the last eight are zero.
    visca::create_command(cmd, 2, 0x06, 0x01, 0x1122334455667788ULL);
    EXPECT_EQ(bytes_of(cmd.cmd, cmd.cmd_length),
              (std::vector<uint8_t>{0x81, 0x01, 0x06, 0x01, 0x77, 0x88, 0xFF}));
    visca::create_command(cmd, 10, 0x06, 0x02, 0x0102030405060708ULL);
    EXPECT_EQ(bytes_of(cmd.cmd, cmd.cmd_length),
              (std::vector<uint8_t>{0x81, 0x01, 0x06, 0x02, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04,
                                    0x05, 0x06, 0x07, 0x08, 0xFF}));
    visca::create_command(cmd, 0, 0x06, 0x04, 0);
    EXPECT_EQ(bytes_of(cmd.cmd, cmd.cmd_length),
              (std::vector<uint8_t>{0x81, 0x01, 0x06, 0x04, 0xFF}));
}

TEST(ViscaPacket, PacketNeverOutgrowsItsBuffer)
{
    visca_command cmd;
    visca::create_command(cmd, 40, 0x04, 0x2D, ~0ULL);
    EXPECT_EQ(cmd.cmd_length, VISCA_PACKET_SIZE);
    EXPECT_EQ(cmd.cmd[VISCA_PACKET_SIZE - 1], 0xFF);
}

TEST(ViscaPacket, InquiryUsesTheInquiryKind)
{
    visca_inq_command inq;
    inq.inq_fill = true;
    visca::create_inqcommand(inq, 1, 0x7E, 0x7E, 0x10);
    EXPECT_EQ(bytes_of(inq.cmd, inq.cmd_length),
              (std::vector<uint8_t>{0x81, 0x09, 0x7E, 0x7E, 0x10, 0xFF}));
    EXPECT_FALSE(inq.inq_fill);
}

TEST(ViscaPacket, InitialSlotTable)
{
    visca engine;
    engine.init_visca_command();
    for (int buffer = 0; buffer < visca::number_of_cmd; ++buffer) {
        const visca_command& ab = engine.cam_pt_ab_position_command[buffer];
        EXPECT_EQ(ab.cmd_length, 15);
        EXPECT_EQ(ab.cmd[14], 0xFF);
        const visca_command& zoom = engine.cam_zoom_direct[buffer];
        EXPECT_EQ(bytes_of(zoom.cmd, zoom.cmd_length),
                  (std::vector<uint8_t>{0x81, 0x01, 0x04, 0x47, 0x05, 0x05, 0x03, 0x03, 0xFF}));
        // The one-push trigger slot holds a complete packet whose byte 4 is the trigger value.
        const visca_command& trig = engine.cam_wb_one_push_trig[buffer];
        EXPECT_EQ(bytes_of(trig.cmd, trig.cmd_length),
                  (std::vector<uint8_t>{0x81, 0x01, 0x04, 0x10, 0x05, 0xFF}));
        EXPECT_EQ(engine.cam_misc[buffer].cmd_length, 6);
        EXPECT_FALSE(engine.cam_misc[buffer].cmd_fill);
    }
}

}  // namespace
