// Bring-up and video-format operations against a camera scripted by the test.
#include <gtest/gtest.h>

#include "engine_fixture.h"
#include "fake_camera.h"
#include "support/temp_board_root.h"
#include "visca/visca.h"

namespace {

using vantor::test::ack_packet;
using vantor::test::Bytes;
using vantor::test::completion_packet;

class ViscaCamera : public vantor::test::EngineOnFakeCamera {
protected:
    // Commands are acknowledged and completed; inquiries get `reply`.
    void answer_inquiries_with(const Bytes& reply)
    {
        camera->respond([reply](const Bytes& packet, size_t) {
            if (packet[1] == 0x09) {
                return std::vector<Bytes>{reply};
            }
            return std::vector<Bytes>{ack_packet(), completion_packet()};
        });
    }
};

TEST_F(ViscaCamera, FormatChangeWritesTheRegisterValue)
{
    answer_inquiries_with({0x90, 0x50, 0x01, 0xFF});
    engine.vid_format_change(52);  // 2160p29.97
    EXPECT_TRUE(engine.cam_vid_fmt.ack);
    EXPECT_TRUE(engine.cam_vid_fmt.comp);
    engine.vid_format_change(53);  // not in the table
    engine.vid_format_change(19);  // 1080i50
    EXPECT_EQ(camera->packets(),
              (std::vector<Bytes>{{0x81, 0x01, 0x04, 0x24, 0x72, 0x01, 0x0D, 0xFF},
                                  {0x81, 0x01, 0x04, 0x24, 0x72, 0x00, 0x00, 0xFF},
                                  {0x81, 0x01, 0x04, 0x24, 0x72, 0x00, 0x04, 0xFF}}));
}

TEST_F(ViscaCamera, FormatReadBackMapsTheRegisterToACode)
{
    answer_inquiries_with({0x90, 0x50, 0x01, 0x04, 0xFF});
    EXPECT_EQ(engine.vid_format_get(), 41);
    EXPECT_EQ(camera->packets().back(), (Bytes{0x81, 0x09, 0x04, 0x24, 0x72, 0xFF}));
    answer_inquiries_with({0x90, 0x50, 0x03, 0x00, 0xFF});
    EXPECT_EQ(engine.vid_format_get(), 0);
    answer_inquiries_with({0x90, 0x50, 0x01, 0x0D, 0xFF});
    EXPECT_EQ(engine.vid_format_get(), 52);
    // A reply of the wrong shape is not read as a format.
    answer_inquiries_with({0x90, 0x50, 0x01, 0x04, 0x00, 0xFF});
    EXPECT_EQ(engine.vid_format_get(), 0);
}

TEST_F(ViscaCamera, PresenceCheckNeedsAReply)
{
    answer_inquiries_with({0x90, 0x50, 0x01, 0x04, 0xFF});
    EXPECT_TRUE(engine.visca_r8t_init());
    answer_inquiries_with({0x90, 0x60, 0x02, 0xFF});
    EXPECT_FALSE(engine.visca_r8t_init());
}

TEST_F(ViscaCamera, VersionAndSingleValueInquiries)
{
    answer_inquiries_with({0x90, 0x50, 0x00, 0x20, 0x05, 0x19, 0x01, 0x00, 0x02, 0xFF});
    uint16_t version = 0;
    engine.cam_version_get(version);
    EXPECT_EQ(version, 0x0519);
    EXPECT_EQ(camera->packets().back(), (Bytes{0x81, 0x09, 0x00, 0x02, 0xFF}));

    // A short reply leaves the version unchanged.
    answer_inquiries_with({0x90, 0x50, 0x02, 0xFF});
    engine.cam_version_get(version);
    EXPECT_EQ(version, 0x0519);

    uint8_t value = 0;
    EXPECT_TRUE(engine.visca_commandinquiry(0x04, 0x75, value));
    EXPECT_EQ(value, 0x02);
    EXPECT_EQ(camera->packets().back(), (Bytes{0x81, 0x09, 0x04, 0x75, 0xFF}));

    answer_inquiries_with({0x90, 0x50, 0x00, 0x03, 0xFF});
    value = 9;
    EXPECT_FALSE(engine.visca_commandinquiry(0x04, 0x33, value));
    EXPECT_EQ(value, 9);
}

TEST_F(ViscaCamera, CloseOsdTogglesEveryTimeTheMenuIsShown)
{
    answer_inquiries_with({0x90, 0x50, 0x02, 0xFF});
    engine.close_osd();
    const Bytes inquiry{0x81, 0x09, 0x04, 0x15, 0xFF};
    const Bytes toggle{0x81, 0x01, 0x06, 0x06, 0x10, 0xFF};
    EXPECT_EQ(camera->packets(), (std::vector<Bytes>{inquiry, toggle, inquiry, toggle, inquiry,
                                                     toggle, inquiry, toggle}));
}

TEST_F(ViscaCamera, CloseOsdLeavesAHiddenMenuAlone)
{
    answer_inquiries_with({0x90, 0x50, 0x03, 0xFF});
    engine.close_osd();
    EXPECT_EQ(camera->packets().size(), 4U);
}

}  // namespace
