// The OSD command channel and drawing, against the recording register layer (whose OSD window
// stands in for the mapped one) and the generated font tables.

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/osd/osd.h"
#include "platform/osd/osd_font.h"
#include "platform/osd/osd_show_timer.h"
#include "support/recording_registers.h"

namespace {

using vantor::test::RecordingRegisters;
using vantor::test::RegisterAccess;

// Feeds `bytes`; returns the non-zero results as "index:code" text ("5:80").
std::string feed(const std::vector<uint8_t>& bytes)
{
    std::string results;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const OSD_CmdList cmd = Osd_Cmd_Extract(bytes[i]);
        if (cmd != OSD_CMD_INVALID) {
            results += (results.empty() ? "" : " ") + std::to_string(i) + ":" +
                       std::to_string(static_cast<uint32_t>(cmd));
        }
    }
    return results;
}

// Runs `action` with standard output swallowed.
template <typename F> void quietly(F action)
{
    ::testing::internal::CaptureStdout();
    action();
    (void)::testing::internal::GetCapturedStdout();
}

// Sets the size class through a standard command (HDMI standard `std`) and empties the OSD.
void start_clean(uint8_t std)
{
    quietly([std] {
        feed({0xA5, 0x15, 0x01, std, 0xA5, 0x15, 0x02, std, 0xA5, 0xAF});
        OSD_Clear_Display();
    });
}

TEST(OsdFrames, AssembleCommandsAndKeepTheirValues)
{
    // Nothing counts before the first frame start.
    EXPECT_EQ(feed({0x17, 0x02, 0x1A, 0x02}), "");
    EXPECT_FALSE(OSD_Get_AudSw());
    // A channel-1 frame stores the HDMI standard and stays open, swallowing what follows.
    EXPECT_EQ(feed({0xA5, 0x15, 0x01, 0x03, 0x15, 0x02, 0x04}), "");
    EXPECT_EQ(OSD_Get_HdmiStd(), VID_HD_1080I50);
    EXPECT_EQ(OSD_Get_UhdSdiStd(), VID_INVALID);

    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        std::string results;
    };
    const Case cases[] = {
        {"channel 1 then channel 2", {0xA5, 0x15, 0x01, 0x10, 0xA5, 0x15, 0x02, 0x13}, "7:21"},
        {"audio on", {0xA5, 0x17, 0x02}, "2:23"},
        {"0xA5 inside a MAC frame restarts framing",
         {0xA5, 0x32, 0x41, 0x42, 0xA5, 0x17, 0x05},
         "6:23"},
        {"unknown command bytes are skipped", {0xA5, 0x10, 0x19, 0x75, 0x1A, 0x02}, "5:26"},
        {"colour space other than 2 or 3", {0xA5, 0x1A, 0x07}, "2:26"},
        {"bytes after a complete frame are ignored", {0x17, 0x02}, ""},
        // 0xA5 as a character byte: data only as the second byte of a valid two-byte character.
        {"B5 A5 is a character", {0xA5, 0x50, 0x03, 0x02, 0xB5, 0xA5, 0x17, 0x05}, "5:80"},
        // (the first byte of the frame before is valid: it must not count here)
        {"A5 as the first byte restarts", {0xA5, 0x50, 0x03, 0x02, 0xA5, 0x17, 0x05}, "6:23"},
        {"A5 after column 39 restarts", {0xA5, 0x50, 0x27, 0x02, 0xB5, 0xA5, 0x17, 0x05}, "7:23"},
        {"A5 after row 15 restarts", {0xA5, 0x50, 0x03, 0x0F, 0xB5, 0xA5, 0x17, 0x05}, "7:23"},
        {"A5 after a single-byte mark restarts",
         {0xA5, 0x50, 0x03, 0x02, 0x00, 0xA5, 0x17, 0x05},
         "7:23"},
        {"A5 after a first byte below A1 restarts",
         {0xA5, 0x50, 0x03, 0x02, 0xA0, 0xA5, 0x17, 0x05},
         "7:23"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(feed(c.bytes), c.results) << c.name;
    }
    // What the frames left behind: standards 16 and 19, 4K size class, audio off (5 is not 2), RGB
    // kept through the unknown space byte.
    EXPECT_EQ(OSD_Get_HdmiStd(), VID_6G_2160P23_98);
    EXPECT_EQ(OSD_Get_UhdSdiStd(), VID_6G_2160P29_97);
    EXPECT_EQ(OSD_Get_ArgSize(), ARG_SIZE_3840x2160);
    EXPECT_FALSE(OSD_Get_AudSw());
    EXPECT_EQ(OSD_Get_ColorSpace(), COLOR_RGB);
    EXPECT_EQ(feed({0xA5, 0x1A, 0x03}), "2:26");
    EXPECT_EQ(OSD_Get_ColorSpace(), COLOR_YUV);

    // MAC: complete on the 12th byte after the command byte.
    std::vector<uint8_t> mac = {0xA5, 0x32};
    const char text[] = "00A0C9123456";
    mac.insert(mac.end(), text, text + 12);
    EXPECT_EQ(feed(mac), "13:50");
    uint32_t copied[3] = {};
    OSD_Get_Mac(copied);
    EXPECT_EQ(std::memcmp(copied, text, 12), 0);

    // A standard byte outside the 26 keeps the size class (no table read past its end).
    EXPECT_EQ(feed({0xA5, 0x15, 0x01, 0x40, 0xA5, 0x15, 0x02, 0xFF}), "7:21");
    EXPECT_EQ(OSD_Get_HdmiStd(), 0x40U);
    EXPECT_EQ(OSD_Get_ArgSize(), ARG_SIZE_3840x2160);
}

enum class Glyph { ASCII, GB2312, DIR, BLANK, NONE };

// Geometry written out per size class: pixel rows and bytes per row of a half-width cell.
struct Size {
    uint8_t std;
    uint32_t rows;
    uint32_t half_row_bytes;
    VideoStd_ArgSize size;
};
const Size k4K{VID_6G_2160P30, 96, 6, ARG_SIZE_3840x2160};
const Size k1080{VID_HD_1080P30, 48, 3, ARG_SIZE_1920x1080};
const Size k720{VID_HD_720P60, 32, 2, ARG_SIZE_1280x720};

// The bytes of a glyph's row `row` in the font of `size`.
std::vector<uint8_t> glyph_row(const Size& s, Glyph g, uint8_t h, uint8_t l, uint32_t row)
{
    const OSD_Font_Tables& t = OSD_Fonts(s.size);
    const size_t half = size_t{s.rows} * s.half_row_bytes;
    const size_t row_bytes = size_t{row} * s.half_row_bytes;
    switch (g) {
    case Glyph::GB2312: {
        std::vector<uint8_t> glyph(2 * half);
        EXPECT_TRUE(OSD_GB2312_Glyph(s.size, (h - 0xA1U) * 94 + (l - 0xA1U), glyph.data()));
        return {glyph.begin() + static_cast<std::ptrdiff_t>(2 * row_bytes),
                glyph.begin() +
                    static_cast<std::ptrdiff_t>(2 * row_bytes + 2 * size_t{s.half_row_bytes})};
    }
    case Glyph::DIR:
        return {t.dir + row_bytes, t.dir + row_bytes + s.half_row_bytes};
    default:
        return {t.ascii + l * half + row_bytes, t.ascii + l * half + row_bytes + s.half_row_bytes};
    }
}

TEST(OsdDrawing, CharactersLandInExactlyTheirCells)
{
    struct Case {
        const char* name;
        Size size;
        uint8_t x, y, h, l;
        Glyph glyph;
    };
    const Case cases[] = {
        {"A in 4K", k4K, 3, 2, 0, 'A', Glyph::ASCII},
        {"A in 1080", k1080, 3, 2, 0, 'A', Glyph::ASCII},
        {"A in 720", k720, 3, 2, 0, 'A', Glyph::ASCII},
        {"last cell", k1080, 39, 14, 0, 'z', Glyph::ASCII},
        {"GB2312 in 4K", k4K, 10, 5, 0xD6, 0xD0, Glyph::GB2312},
        {"GB2312 in 1080", k1080, 38, 14, 0xB0, 0xA1, Glyph::GB2312},
        {"GB2312 in 720", k720, 0, 0, 0xA1, 0xFE, Glyph::GB2312},
        {"GB2312 with an A5 second byte", k1080, 6, 2, 0xB5, 0xA5, Glyph::GB2312},
        {"0x59 at column 3 is the arrow", k1080, 3, 4, 0, 0x59, Glyph::DIR},
        {"0x59 elsewhere is Y", k1080, 4, 4, 0, 0x59, Glyph::ASCII},
        {"0xAD at column 3 is blank", k1080, 3, 4, 0, 0xAD, Glyph::BLANK},
        {"column 40", k1080, 40, 0, 0, 'A', Glyph::NONE},
        {"row 15", k1080, 0, 15, 0, 'A', Glyph::NONE},
        {"two-byte at column 39 crosses the edge", k4K, 39, 0, 0xB0, 0xA1, Glyph::NONE},
        {"single-byte code 128", k1080, 5, 0, 0, 0x80, Glyph::NONE},
        {"0xAD outside column 3", k1080, 4, 0, 0, 0xAD, Glyph::NONE},
        {"two-byte high byte 0xA0", k1080, 5, 0, 0xA0, 0xA1, Glyph::NONE},
        {"two-byte low byte 0xFF", k1080, 5, 0, 0xB0, 0xFF, Glyph::NONE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start_clean(c.size.std);
        // A blank draw must visibly replace what was there: put an A in the cell first.
        if (c.glyph == Glyph::BLANK) {
            quietly([&] { feed({0xA5, 0x50, c.x, c.y, 0, 'A'}); });
        }
        std::string results;
        quietly([&] { results = feed({0xA5, 0x53, c.x, c.y, c.h, c.l}); });
        EXPECT_EQ(results, "5:80");

        const uint8_t* lib = OSD_Lib();
        const uint32_t pitch = 40 * c.size.half_row_bytes;
        const uint32_t cell_bytes = (c.h != 0 ? 2 : 1) * c.size.half_row_bytes;
        const uint32_t cell = c.y * pitch * c.size.rows + c.x * c.size.half_row_bytes;
        std::vector<uint8_t> expected(OSD_LIB_BYTE, 0);
        if (c.glyph != Glyph::NONE && c.glyph != Glyph::BLANK) {
            for (uint32_t row = 0; row < c.size.rows; ++row) {
                const std::vector<uint8_t> bytes = glyph_row(c.size, c.glyph, c.h, c.l, row);
                std::memcpy(&expected[cell + row * pitch], bytes.data(), cell_bytes);
            }
        }
        uint32_t set_bits_in_cell = 0;
        for (uint32_t row = 0; c.glyph != Glyph::NONE && row < c.size.rows; ++row) {
            for (uint32_t b = 0; b < cell_bytes; ++b) {
                set_bits_in_cell += expected[cell + row * pitch + b] != 0 ? 1U : 0U;
            }
        }
        if (c.glyph == Glyph::ASCII || c.glyph == Glyph::GB2312 || c.glyph == Glyph::DIR) {
            EXPECT_GT(set_bits_in_cell, 0U) << "the glyph has pixels";
        }
        EXPECT_EQ(std::memcmp(lib, expected.data(), OSD_LIB_BYTE), 0);
        const OSD_Area area = OSD_Get_Area();
        if (c.glyph == Glyph::NONE) {
            EXPECT_EQ(area.leftup_x, 40);  // the box stays empty
            EXPECT_EQ(area.rightdown_x, 0);
        } else {
            EXPECT_EQ(area.leftup_x, c.x);
            // A full-width character's box ends at its second cell.
            EXPECT_EQ(area.rightdown_x, c.x + (c.h != 0 ? 1 : 0));
            EXPECT_EQ(area.rightdown_y, c.y);
        }
    }
}

RegisterAccess W(InterConnectRegList reg, uint32_t value)
{
    return {true, reg, value};
}

TEST(OsdShow, ProgramsTheEngineForEachSizeClassAroundTheDrawnBox)
{
    struct Case {
        const char* name;
        Size size;
        std::vector<std::pair<uint8_t, uint8_t>> cells;
        uint32_t parallel, total, h_stop, v_stop, bg_h_start, bg_h_stop, bg_v_start, bg_v_stop;
    };
    const Case cases[] = {
        {"1080, one cell", k1080, {{5, 7}}, 0, 1350, 960, 720, 121, 145, 337, 385},
        {"4K, one cell, 2 pixels a clock", k4K, {{5, 7}}, 1, 5400, 960, 1440, 121, 145, 673, 769},
        {"720, one cell", k720, {{5, 7}}, 0, 600, 640, 480, 81, 97, 225, 257},
        {"1080, box of two", k1080, {{5, 7}, {2, 9}}, 0, 1350, 960, 720, 49, 145, 337, 481},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start_clean(c.size.std);
        for (const auto& cell : c.cells) {
            quietly([&] { feed({0xA5, 0x50, cell.first, cell.second, 0, 'H'}); });
        }
        RecordingRegisters::reset();
        ::testing::internal::CaptureStdout();
        OSD_Show();
        const std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(RecordingRegisters::writes(),
                  (std::vector<RegisterAccess>{
                      W(OSD_REG_OSD_EN, 0), W(OSD_REG_OSD_BASE_ADDR, 0x34000000),
                      W(OSD_REG_OSD_PER_LEN, 16), W(OSD_REG_OSD_TOTAL_NUM, c.total),
                      W(OSD_REG_OSD_SCAN_ID, 0), W(OSD_REG_OSD_PARALLEL_ENABLE, c.parallel),
                      W(OSD_REG_OSD_H_START_POINT, 1), W(OSD_REG_OSD_H_STOP_POINT, c.h_stop),
                      W(OSD_REG_OSD_V_START_POINT, 1), W(OSD_REG_OSD_V_STOP_POINT, c.v_stop),
                      W(OSD_REG_OSD_EXTRA_V_START_POINT, 0), W(OSD_REG_OSD_EXTRA_V_STOP_POINT, 0),
                      W(OSD_REG_OSD_BG_H_START_POINT, c.bg_h_start),
                      W(OSD_REG_OSD_BG_H_STOP_POINT, c.bg_h_stop),
                      W(OSD_REG_OSD_BG_V_START_POINT, c.bg_v_start),
                      W(OSD_REG_OSD_BG_V_STOP_POINT, c.bg_v_stop),
                      W(OSD_REG_OSD_BG_EXTRA_V_START_POINT, 0),
                      W(OSD_REG_OSD_BG_EXTRA_V_STOP_POINT, 0), W(OSD_REG_OSD_EN, 1)}));
        EXPECT_NE(out.find("osd_point_leftup_x    = " + std::to_string(c.cells.back().first)),
                  std::string::npos)
            << out;
        // The grid reached the window; the window beyond it is untouched.
        const uint32_t grid = c.size.rows * 15 * 40 * c.size.half_row_bytes;
        const uint8_t* window = RecordingRegisters::osd_window();
        EXPECT_EQ(std::memcmp(window, OSD_Lib(), grid), 0);
        EXPECT_NE(std::memcmp(window, std::vector<uint8_t>(grid, 0).data(), grid), 0);
        EXPECT_EQ(window[grid], 0);
    }
    // Clearing switches the engine off and empties window and bitmap; the box stays.
    const OSD_Area before = OSD_Get_Area();
    RecordingRegisters::reset();
    OSD_Clear_Display();
    EXPECT_EQ(RecordingRegisters::writes(), (std::vector<RegisterAccess>{W(OSD_REG_OSD_EN, 0)}));
    const std::vector<uint8_t> zeros(OSD_LIB_BYTE, 0);
    EXPECT_EQ(std::memcmp(RecordingRegisters::osd_window(), zeros.data(), OSD_LIB_BYTE), 0);
    EXPECT_EQ(std::memcmp(OSD_Lib(), zeros.data(), OSD_LIB_BYTE), 0);
    EXPECT_EQ(OSD_Get_Area().leftup_x, before.leftup_x);
}

TEST(OsdChannel, TakesOneByteAndAcknowledgesIt)
{
    RecordingRegisters::reset();
    uint8_t value = 0x77;
    EXPECT_FALSE(OSD_Read_Cmd(&value));
    EXPECT_EQ(value, 0x77);
    EXPECT_TRUE(RecordingRegisters::writes().empty());

    RecordingRegisters::set(OSD_REG_CMD_RX_VALID, (0xA5U << 1) | 1U);
    EXPECT_TRUE(OSD_Read_Cmd(&value));
    EXPECT_EQ(value, 0xA5);
    EXPECT_EQ(RecordingRegisters::writes(),
              (std::vector<RegisterAccess>{W(OSD_REG_CMD_RX_READY, 1)}));
}

TEST(OsdVideoInput, GeometryLockGenlockAndReady)
{
    const struct {
        VideoStd_Index std;
        uint32_t v_active, scaler;
    } cases[] = {{VID_HD_720P50, 1080, 1},
                 {VID_HD_720P60, 1080, 1},
                 {VID_HD_1080I50, 1080, 0},
                 {VID_HD_1080P30, 1080, 0},
                 {VID_6G_2160P24, 2160, 0}};
    for (const auto& c : cases) {
        RecordingRegisters::reset();
        quietly([&] { Video_In_Reg(c.std); });
        EXPECT_EQ(
            RecordingRegisters::writes(),
            (std::vector<RegisterAccess>{W(OSD_VIN_H_ACTIVE, 1920), W(OSD_VIN_V_ACTIVE, c.v_active),
                                         W(OSD_VIN_SCALER_EN, c.scaler)}))
            << c.std;
    }
    RecordingRegisters::reset();
    quietly([] { Video_In_Reg(VID_INVALID); });
    EXPECT_TRUE(RecordingRegisters::log().empty());

    RecordingRegisters::set(OSD_VIN_LOCKED, 1);
    EXPECT_TRUE(Video_In_Locked());
    RecordingRegisters::set(OSD_VIN_LOCKED, 3);
    EXPECT_FALSE(Video_In_Locked());
    RecordingRegisters::reset();
    Video_Genlock_Std(VID_INVALID);
    OSD_PlatformRdy();
    EXPECT_EQ(
        RecordingRegisters::writes(),
        (std::vector<RegisterAccess>{W(OSD_REG_SDI_SYNC_STD, 255), W(OSD_REG_PLATFORM_RDY, 1)}));
}

// The show delay, driven with explicit steady-clock times in microseconds: 'P' a position
// command, 'C' a clear, '?' a look at the clock; the text is the times at which the show fires.
TEST(OsdShowDelay, ARunShowsOnceAfterTheLastAndAClearCancels)
{
    struct Step {
        char what;
        int64_t at;
    };
    const struct {
        const char* name;
        std::vector<Step> steps;
        std::string shows;
    } cases[] = {
        {"run of three, each within 0.1 s",
         {{'P', 0},
          {'?', 50000},
          {'P', 90000},
          {'?', 150000},
          {'P', 180000},
          {'?', 279999},
          {'?', 280000},
          {'?', 280001},
          {'?', 400000}},
         "280000"},
        {"exactly 99,999 is not yet", {{'P', 10}, {'?', 100009}, {'?', 100010}}, "100010"},
        {"clear cancels", {{'P', 0}, {'C', 50000}, {'?', 200000}}, ""},
        {"a position after a clear shows again",
         {{'P', 0}, {'C', 1}, {'P', 2}, {'?', 100002}},
         "100002"},
        // Where a 32-bit count of microseconds (processor time on the target) overflows.
        {"across 2^31",
         {{'P', 2147450000}, {'?', 2147483647}, {'?', 2147483648}, {'?', 2147550001}},
         "2147550001"},
    };
    for (const auto& c : cases) {
        OsdShowTimer timer;
        std::string shows;
        for (const Step& s : c.steps) {
            const OsdShowTimer::TimePoint at{std::chrono::microseconds(s.at)};
            if (s.what == 'P') {
                timer.position(at);
            } else if (s.what == 'C') {
                timer.cancel();
            } else if (timer.due(at)) {
                shows += (shows.empty() ? "" : " ") + std::to_string(s.at);
            }
        }
        EXPECT_EQ(shows, c.shows) << c.name;
    }
}

}  // namespace
