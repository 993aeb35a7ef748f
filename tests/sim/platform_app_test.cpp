// The real platform-app process on the virtual board: fpga-sim's register windows, command channel
// and I2C chip models. The board's event log keeps register changes and I2C transactions in the
// order the daemon made them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include <png.h>

#include "platform/osd/osd_font.h"
#include "platform_daemon_test.h"
#include "support/count_of.h"
#include "support/wait_until.h"

namespace {

using vantor::test::count_of;
using vantor::test::wait_until;

// The first index at or after `from` of an event equal to `event`; npos if none.
size_t find_event(const std::vector<std::string>& events, const std::string& event, size_t from = 0)
{
    const auto at =
        std::find(events.begin() + static_cast<std::ptrdiff_t>(std::min(from, events.size())),
                  events.end(), event);
    return at == events.end() ? std::string::npos : static_cast<size_t>(at - events.begin());
}

class PlatformApp : public vantor::test::PlatformDaemonTest {};

TEST_F(PlatformApp, FormatCommandReconfiguresReceiverFrameBuffersAndTransmitterInOrder)
{
    start_daemon();
    m_sim->command("events");  // forget the bring-up
    m_sim->command("std 12 20");
    ASSERT_TRUE(wait_for_log("Change UHDSDI STD Format = 20\n", 1, std::chrono::seconds(20)))
        << log();
    const std::vector<std::string> events = m_sim->command("events");

    // Input geometry, receiver (1080-line sequence: it ends in the InfoFrame map), HDMI frame
    // buffer, SDI frame buffer, transmitter (page write BC=01 to interrupt enable 3C=01).
    const size_t vin = find_event(events, "reg OSD_VIN_V_ACTIVE 0x00000438");
    const size_t adv_first = find_event(events, "i2c 4C:FF=80");
    const size_t adv_last = find_event(events, "i2c 3E:FA=7D");
    const size_t hdmi = find_event(events, "reg HDMI_REG_STD 0x0000000c");
    const size_t sdi = find_event(events, "reg UHDSDI_REG_STD 0x00000014");
    const size_t sil_first = find_event(events, "i2c 3B:BC=01");
    const size_t sil_last = find_event(events, "i2c 3B:3C=01");
    ASSERT_NE(sil_last, std::string::npos);
    EXPECT_LT(vin, adv_first);
    EXPECT_LT(adv_first, adv_last);
    EXPECT_LT(adv_last, hdmi);
    EXPECT_LT(hdmi, sdi);
    EXPECT_LT(sdi, sil_first);
    EXPECT_LT(sil_first, sil_last);
    EXPECT_NE(find_event(events, "i2c 3B:10=22", sil_first), std::string::npos) << "VIC 34";
    EXPECT_EQ(reg("HDMI_REG_FB_R_EN"), "0x00000001");
    EXPECT_EQ(reg("UHDSDI_REG_FB_R_EN"), "0x00000001");

    // A standard byte outside the 26 known ones, 255 or not, leaves both outputs stopped.
    for (const char* command : {"std 40 12", "std 12 255", "std 255 12"}) {
        const size_t runs = count_of(log(), "Change UHDSDI STD Format = 20\n");
        m_sim->command("std 12 20");
        ASSERT_TRUE(
            wait_for_log("Change UHDSDI STD Format = 20\n", runs + 1, std::chrono::seconds(20)));
        const size_t changes = count_of(log(), "Change HDMI STD Format");
        m_sim->command(command);
        EXPECT_TRUE(wait_until(
            [&] {
                return reg("HDMI_REG_FB_R_EN") == "0x00000000" &&
                       reg("UHDSDI_REG_FB_R_EN") == "0x00000000";
            },
            std::chrono::seconds(20)))
            << command;
        EXPECT_EQ(reg("OSD_REG_OSD_EN"), "0x00000000") << command;
        EXPECT_EQ(count_of(log(), "Change HDMI STD Format"), changes) << command;
    }
    EXPECT_EQ(count_of(log(), "ERR"), 0U) << log();
}

// The first watchdog cycle (10 s after start) finds the input unlocked and the display unplugged:
// it restarts the path and reports the input. A format change sent while that restart runs waits
// for the restart to end. After the cycle's 10 s pause it follows the genlock reference and looks
// at the display, plugged meanwhile, and reprograms the transmitter for it; the next cycle finds
// everything healthy.
TEST_F(PlatformApp, WatchdogRestartsOnLostLockAndReprogramsTheTransmitterOnHotPlug)
{
    m_sim->command("input-lock drop");
    m_sim->command("hpd unplug");
    m_sim->command("genlock 15");  // the LMH1983's code for 1080p30
    start_daemon();
    const std::string change = "Change UHDSDI STD Format = 12\n";
    m_sim->command("std 12 12");
    ASSERT_TRUE(wait_for_log(change, 1, std::chrono::seconds(20)));
    std::vector<std::string> events;
    const auto seen = [&](const std::string& event, size_t from) {
        const std::vector<std::string> more = m_sim->command("events");
        events.insert(events.end(), more.begin(), more.end());
        return find_event(events, event, from) != std::string::npos;
    };
    (void)seen("", 0);
    const size_t before_cycle = events.size();
    ASSERT_TRUE(
        wait_until([&] { return seen("i2c 4C:FF=80", before_cycle); }, std::chrono::seconds(30)))
        << log();
    m_sim->command("std 12 12");  // while the restart's chip sequences run
    ASSERT_TRUE(wait_for_log(change, 2, std::chrono::seconds(30))) << log();
    (void)seen("", 0);
    const size_t restart = find_event(events, "i2c 4C:FF=80", before_cycle);
    const size_t restart_end = find_event(events, "i2c 3B:3C=01", restart);
    const size_t format_stop = find_event(events, "reg HDMI_REG_FB_R_EN 0x00000000", restart);
    ASSERT_NE(format_stop, std::string::npos);
    EXPECT_LT(restart_end, format_stop) << "the format change began inside the watchdog's restart";
    const std::string first_cycle = log();
    EXPECT_LT(first_cycle.find("HDMI input SetAdv7619 Reset"), first_cycle.rfind(change))
        << first_cycle;

    // Lock and display come back during the cycle's pause.
    m_sim->command("input-lock restore");
    m_sim->command("hpd plug");
    const size_t cut = events.size();
    const size_t programmed = count_of(first_cycle, "SetSil9136_3 Done");
    ASSERT_TRUE(wait_for_log("SetSil9136_3 Done", programmed + 1, std::chrono::seconds(30)))
        << log();
    ASSERT_TRUE(wait_until([&] { return seen("i2c 3B:3C=01", cut); }, std::chrono::seconds(5)));
    EXPECT_NE(find_event(events, "reg OSD_REG_SDI_SYNC_STD 0x0000000c", format_stop),
              std::string::npos)
        << "genlock followed after the pause";
    const std::string second_cycle = log().substr(first_cycle.size());
    EXPECT_EQ(second_cycle.find("Reset"), std::string::npos) << second_cycle;
    EXPECT_EQ(second_cycle.find("SetAdv7619 Begin"), std::string::npos) << second_cycle;
    EXPECT_NE(find_event(events, "i2c 3B:BC=01", cut), std::string::npos);
    EXPECT_EQ(find_event(events, "i2c 4C:FF=80", cut), std::string::npos);

    // No transmitter sequence is interleaved with another chip's transactions.
    for (size_t at = find_event(events, "i2c 3B:BC=01"); at != std::string::npos;
         at = find_event(events, "i2c 3B:BC=01", at + 1)) {
        for (size_t i = at; i < events.size() && events[i] != "i2c 3B:3C=01"; ++i) {
            EXPECT_TRUE(events[i].rfind("i2c ", 0) != 0 || events[i].rfind("i2c 3B:", 0) == 0)
                << events[i];
        }
    }
}

// A two-line menu of ASCII and GB2312 characters as fpga-sim pictures the OSD window: each drawn
// cell holds its glyph from the font tables (white), the background box around the drawn cells is
// dark grey, the rest black. (On this board each character is shown on its own, 0.1 s after it
// arrives: see sim/fpga/README.md.)
TEST_F(PlatformApp, OsdPictureShowsTheDrawnMenu)
{
    start_daemon();
    m_sim->command("std 12 12");  // 1080 lines: 24 x 48 half-width cells
    ASSERT_TRUE(wait_for_log("Change UHDSDI STD Format = 12\n", 1, std::chrono::seconds(20)));
    m_sim->command("text 2 3 Menu OK");
    m_sim->command("text 2 5 \xe5\x9b\xbe\xe5\x83\x8f A");  // two GB2312 characters, space, A
    ASSERT_TRUE(wait_for_log("OSD_Show()", 11, std::chrono::seconds(60))) << log();
    const std::string path = m_root / "/osd.png";
    m_sim->command("osd-png " + path);

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_NE(png_image_begin_read_from_file(&image, path.c_str()), 0) << image.message;
    image.format = PNG_FORMAT_GRAY;
    ASSERT_EQ(image.width, 960U);
    ASSERT_EQ(image.height, 720U);
    std::vector<uint8_t> picture(PNG_IMAGE_SIZE(image));
    ASSERT_NE(png_image_finish_read(&image, nullptr, picture.data(), 0, nullptr), 0);

    constexpr uint32_t kW = 960, kCellW = 24, kCellH = 48;
    std::vector<uint8_t> expected(picture.size(), 0);
    // The box: columns 2 to 8 (the last character's cell), rows 3 to 5.
    for (uint32_t y = 3 * kCellH; y < 6 * kCellH; ++y) {
        for (uint32_t x = 2 * kCellW; x < 9 * kCellW; ++x) {
            expected[y * kW + x] = 64;
        }
    }
    const OSD_Font_Tables& fonts = OSD_Fonts(ARG_SIZE_1920x1080);
    const struct {
        uint32_t x, y;
        uint8_t h, l;
    } cells[] = {{2, 3, 0, 'M'},     {3, 3, 0, 'e'}, {4, 3, 0, 'n'}, {5, 3, 0, 'u'},
                 {6, 3, 0, ' '},     {7, 3, 0, 'O'}, {8, 3, 0, 'K'}, {2, 5, 0xCD, 0xBC},
                 {4, 5, 0xCF, 0xF1}, {6, 5, 0, ' '}, {7, 5, 0, 'A'}};
    uint32_t foreground = 0;
    for (const auto& c : cells) {
        const uint32_t width = c.h != 0 ? 2 * kCellW : kCellW;
        uint8_t gb2312[288] = {};
        ASSERT_TRUE(c.h == 0 || OSD_GB2312_Glyph(ARG_SIZE_1920x1080,
                                                 (c.h - 0xA1U) * 94 + (c.l - 0xA1U), gb2312));
        const uint8_t* glyph = c.h != 0 ? gb2312 : fonts.ascii + size_t{c.l} * 144;
        for (uint32_t row = 0; row < kCellH; ++row) {
            for (uint32_t col = 0; col < width; ++col) {
                if ((glyph[row * (width / 8) + col / 8] >> (col % 8) & 1U) != 0) {
                    expected[(c.y * kCellH + row) * kW + c.x * kCellW + col] = 255;
                    ++foreground;
                }
            }
        }
    }
    EXPECT_GT(foreground, 1000U);
    size_t wrong = 0;
    for (size_t i = 0; i < picture.size(); ++i) {
        wrong += picture[i] != expected[i] ? 1U : 0U;
    }
    EXPECT_EQ(wrong, 0U);
}

}  // namespace
