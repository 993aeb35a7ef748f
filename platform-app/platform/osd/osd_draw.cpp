// The OSD bitmap: drawing characters, the drawn area, showing and clearing.

#include <cstdio>
#include <cstring>

#include "platform/interconnect/interconnect.h"
#include "platform/memory_map/memory_map.h"
#include "platform/osd/osd.h"
#include "platform/osd/osd_font.h"
#include "platform/osd/osd_state.h"

namespace {

constexpr bool font_info_is_consistent()
{
    for (uint32_t n = 0; n < 3; ++n) {
        const OSD_Display_Font& f = OSD_Display_Font_Info[n];
        if (f.argsize != n || f.full_byte_h * 8U != f.full_h || f.half_byte_h * 8U != f.half_h ||
            f.full_byte != f.full_byte_h * uint32_t{f.full_v} ||
            f.half_byte != f.half_byte_h * uint32_t{f.half_v} || f.full_v != f.half_v ||
            f.full_byte_h != 2U * f.half_byte_h ||
            f.half_byte * OSD_MAX_H * OSD_MAX_V > OSD_LIB_BYTE) {
            return false;
        }
    }
    return true;
}
static_assert(font_info_is_consistent(),
              "a full-width glyph is two half-width cells and every grid fits the bitmap");

constexpr uint32_t kLargestGlyph = 96 * 96 / 8;
static_assert(OSD_Display_Font_Info[ARG_SIZE_3840x2160].full_byte == kLargestGlyph);

uint8_t osd_lib[OSD_LIB_BYTE];
uint8_t osd_point_leftup_x = OSD_MAX_H;
uint8_t osd_point_leftup_y = OSD_MAX_V;
uint8_t osd_point_rightdown_x = 0;
uint8_t osd_point_rightdown_y = 0;

const OSD_Display_Font& font()
{
    return OSD_Display_Font_Info[g_osd.argsize];
}

bool in_gb2312(uint8_t byte)
{
    return byte >= OSD_GB2312_FIRST && byte <= OSD_GB2312_LAST;
}

// Copies `rows` rows of `row_bytes` from `glyph` into the cell at (x, y).
void copy_glyph(const uint8_t* glyph, size_t rows, size_t row_bytes)
{
    const OSD_Display_Font& f = font();
    const size_t pitch = size_t{OSD_MAX_H} * f.half_byte_h;  // one pixel row of the grid
    uint8_t* cell =
        osd_lib + g_osd.y * (OSD_MAX_H * size_t{f.half_byte}) + g_osd.x * size_t{f.half_byte_h};
    for (size_t i = 0; i < rows; ++i) {
        std::memcpy(cell + i * pitch, glyph + i * row_bytes, row_bytes);
    }
}

uint8_t* osd_window()
{
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the mapping's address as the memory map keeps it.
    return reinterpret_cast<uint8_t*>(GetMmapVirBaseAddr(GP0_M_BASE_ADDR));
}

}  // namespace

bool OSD_Set_Position()
{
    const OSD_Display_Font& f = font();
    const OSD_Font_Tables& tables = OSD_Fonts(g_osd.argsize);
    const bool two_byte = g_osd.h != 0;
    const uint32_t columns = two_byte ? 2U : 1U;
    const bool fits = g_osd.x + columns <= OSD_MAX_H && g_osd.y < OSD_MAX_V;
    const bool known = two_byte ? in_gb2312(g_osd.h) && in_gb2312(g_osd.l)
                                : g_osd.l < OSD_ASCII_GLYPHS || g_osd.dir_mode != 0;
    if (!fits || !known) {
        std::printf("ERR: OSD_Set_Position: character 0x%02x%02x at (%u, %u) is outside the "
                    "grid or the font, not drawn\n",
                    g_osd.h, g_osd.l, g_osd.x, g_osd.y);
        return false;
    }
    if (two_byte) {
        const size_t g = static_cast<size_t>(g_osd.h - OSD_GB2312_FIRST) * OSD_GB2312_ROW +
                         (g_osd.l - OSD_GB2312_FIRST);
        uint8_t glyph[kLargestGlyph];
        if (!OSD_GB2312_Glyph(g_osd.argsize, static_cast<uint32_t>(g), glyph)) {
            return false;  // its block of the font is damaged (said by the font)
        }
        copy_glyph(glyph, f.full_v, f.full_byte_h);
    } else if (g_osd.dir_mode == 2) {
        copy_glyph(tables.dir, f.half_v, f.half_byte_h);
    } else {
        const size_t code = g_osd.dir_mode == 1 ? 0U : g_osd.l;
        copy_glyph(tables.ascii + code * f.half_byte, f.half_v, f.half_byte_h);
    }
    return true;
}

void OSD_FindFeatruePoint()
{
    if (g_osd.x < osd_point_leftup_x) {
        osd_point_leftup_x = g_osd.x;
    }
    if (g_osd.y < osd_point_leftup_y) {
        osd_point_leftup_y = g_osd.y;
    }
    // A full-width character covers its own cell and the next: the box takes both, so that the
    // background is not cut through the character's right half.
    const uint8_t right = g_osd.h != 0 ? static_cast<uint8_t>(g_osd.x + 1U) : g_osd.x;
    if (right > osd_point_rightdown_x) {
        osd_point_rightdown_x = right;
    }
    if (g_osd.y > osd_point_rightdown_y) {
        osd_point_rightdown_y = g_osd.y;
    }
}

void OSD_ClearFeatruePoint()
{
    osd_point_leftup_x = OSD_MAX_H;
    osd_point_leftup_y = OSD_MAX_V;
    osd_point_rightdown_x = 0;
    osd_point_rightdown_y = 0;
}

void OSD_Show()
{
    const OSD_Display_Font& f = font();
    uint8_t* window = osd_window();
    if (window == nullptr) {
        std::puts("ERR: OSD_Show: the OSD window is not mapped");
    } else {
        std::memcpy(window, osd_lib, size_t{f.half_v} * OSD_MAX_V * OSD_MAX_H * f.half_byte_h);
    }
    Cfg_OSD_Reg();
}

void Cfg_OSD_Reg()
{
    const OSD_Display_Font& f = font();
    const bool parallel = VideoStd_IsValid(g_osd.hdmistd) && g_osd.hdmistd > VID_LAST_1080_LINE;
    const auto h = [parallel](uint32_t pixels) { return parallel ? pixels / 2 : pixels; };
    const uint32_t half_h = f.half_h;
    const uint32_t half_v = f.half_v;

    WriteRegister(OSD_REG_OSD_EN, 0);
    WriteRegister(OSD_REG_OSD_BASE_ADDR, OSD_BITMAP_PHYS_ADDR);
    WriteRegister(OSD_REG_OSD_PER_LEN, 16);
    WriteRegister(OSD_REG_OSD_TOTAL_NUM, half_v * half_h * 600 / 512);
    WriteRegister(OSD_REG_OSD_SCAN_ID, 0);
    WriteRegister(OSD_REG_OSD_PARALLEL_ENABLE, parallel ? 1U : 0U);
    WriteRegister(OSD_REG_OSD_H_START_POINT, 1);
    WriteRegister(OSD_REG_OSD_H_STOP_POINT, h(half_h * OSD_MAX_H));
    WriteRegister(OSD_REG_OSD_V_START_POINT, 1);
    WriteRegister(OSD_REG_OSD_V_STOP_POINT, half_v * OSD_MAX_V);
    WriteRegister(OSD_REG_OSD_EXTRA_V_START_POINT, 0);
    WriteRegister(OSD_REG_OSD_EXTRA_V_STOP_POINT, 0);
    WriteRegister(OSD_REG_OSD_BG_H_START_POINT, h(osd_point_leftup_x * half_h) + 1);
    WriteRegister(OSD_REG_OSD_BG_H_STOP_POINT, h((osd_point_rightdown_x + 1U) * half_h) + 1);
    WriteRegister(OSD_REG_OSD_BG_V_START_POINT, osd_point_leftup_y * half_v + 1);
    WriteRegister(OSD_REG_OSD_BG_V_STOP_POINT, (osd_point_rightdown_y + 1U) * half_v + 1);
    WriteRegister(OSD_REG_OSD_BG_EXTRA_V_START_POINT, 0);
    WriteRegister(OSD_REG_OSD_BG_EXTRA_V_STOP_POINT, 0);
    WriteRegister(OSD_REG_OSD_EN, 1);

    std::printf("osd_point_leftup_x    = %u\n", osd_point_leftup_x);
    std::printf("osd_point_leftup_y    = %u\n", osd_point_leftup_y);
    std::printf("osd_point_rightdown_x = %u\n", osd_point_rightdown_x);
    std::printf("osd_point_rightdown_y = %u\n", osd_point_rightdown_y);
}

void OSD_Clear_Display()
{
    WriteRegister(OSD_REG_OSD_EN, 0);
    uint8_t* window = osd_window();
    if (window != nullptr) {
        std::memset(window, 0, OSD_WINDOW_BYTES);
    }
    std::memset(osd_lib, 0, sizeof osd_lib);
}

const uint8_t* OSD_Lib()
{
    return osd_lib;
}

OSD_Area OSD_Get_Area()
{
    return {osd_point_leftup_x, osd_point_leftup_y, osd_point_rightdown_x, osd_point_rightdown_y};
}
