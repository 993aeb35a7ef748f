// Draws full OSD menus through the frame assembler, as the daemon does, and times them: a menu of
// 40 x 15 half-width cells filled with 300 two-byte characters taken from 72 GB2312 rows in turn,
// each from another block, so that every character decodes its block (the worst case), and the
// same menu with its characters from 4 rows, cached after the first time. Prints one line per
// size class:
//
//   size 96x96 worst_ms W typical_ms T cache_kib K
#include <chrono>
#include <cstdint>
#include <cstdio>

#include "platform/osd/osd.h"
#include "platform/osd/osd_font.h"

namespace {

using Clock = std::chrono::steady_clock;

// Feeds one position frame for the two-byte character (h, l) at cell (x, y).
void draw(uint8_t x, uint8_t y, uint8_t h, uint8_t l)
{
    const uint8_t frame[] = {0xA5, 0x50, x, y, h, l};
    for (const uint8_t b : frame) {
        (void)Osd_Cmd_Extract(b);
    }
}

// One full menu; `rows` is how many GB2312 rows (from 0xB0 on) its characters cycle through.
double menu_ms(uint32_t rows)
{
    const auto start = Clock::now();
    uint32_t n = 0;
    for (uint8_t y = 0; y < OSD_MAX_V; ++y) {
        for (uint8_t x = 0; x + 1U < OSD_MAX_H; x += 2, ++n) {
            draw(x, y, static_cast<uint8_t>(0xB0 + n % rows), static_cast<uint8_t>(0xA1 + n % 94));
        }
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void set_size(uint8_t std)
{
    const uint8_t frames[] = {0xA5, 0x15, 0x01, std, 0xA5, 0x15, 0x02, std};
    for (const uint8_t b : frames) {
        (void)Osd_Cmd_Extract(b);
    }
}

}  // namespace

int main()
{
    const struct {
        const char* name;
        uint8_t std;
        VideoStd_ArgSize size;
    } sizes[] = {{"96x96", VID_6G_2160P30, ARG_SIZE_3840x2160},
                 {"48x48", VID_HD_1080P30, ARG_SIZE_1920x1080},
                 {"32x32", VID_HD_720P60, ARG_SIZE_1280x720}};
    for (const auto& s : sizes) {
        set_size(s.std);
        const double worst = menu_ms(72);
        (void)menu_ms(4);  // the four rows into the cache
        const double typical = menu_ms(4);
        const double cache_kib = OSD_GB2312_CACHE_BLOCKS * OSD_GB2312_BLOCK_GLYPHS *
                                 static_cast<double>(OSD_Display_Font_Info[s.size].full_byte) /
                                 1024.0;
        std::printf("size %s worst_ms %.2f typical_ms %.2f cache_kib %.0f\n", s.name, worst,
                    typical, cache_kib);
    }
    return 0;
}
