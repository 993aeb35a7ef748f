#include "platform/osd/osd_font.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/osd/inflate.h"
#include "platform/osd/osd.h"

namespace {

const OSD_Font_Tables kTables[3] = {
    {ASCII_48x96, DIR_48x96},
    {ASCII_24x48, DIR_24x48},
    {ASCII_16x32, DIR_16x32},
};
const uint8_t* const kCompressed[3] = {GB2312_96x96_Z, GB2312_48x48_Z, GB2312_32x32_Z};

uint32_t size_class(VideoStd_ArgSize size)
{
    return size <= ARG_SIZE_1280x720 ? size : ARG_SIZE_1920x1080;
}

uint32_t offset(const uint8_t* table, uint32_t row)
{
    const uint8_t* at = table + size_t{row} * 4;
    return at[0] | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
           static_cast<uint32_t>(at[3]) << 24;
}

// One decoded row of 94 glyphs of one size class.
struct CachedRow {
    uint32_t size = UINT32_MAX;  // none
    uint32_t row = 0;
    uint64_t used = 0;  // when last used, for replacing the least recently used
    std::vector<uint8_t> glyphs;
};

std::mutex g_mutex;
CachedRow g_rows[OSD_GB2312_CACHE_ROWS];
uint64_t g_uses = 0;
bool g_damaged[3][OSD_GB2312_ROW] = {};  // said once each

const CachedRow* decoded_row(uint32_t size, uint32_t row)
{
    CachedRow* slot = &g_rows[0];
    for (CachedRow& r : g_rows) {
        if (r.size == size && r.row == row) {
            r.used = ++g_uses;
            return &r;
        }
        if (r.used < slot->used) {
            slot = &r;
        }
    }
    const uint8_t* table = kCompressed[size];
    const uint32_t begin = offset(table, row);
    const uint32_t end = offset(table, row + 1);
    const size_t glyph_bytes = OSD_Display_Font_Info[size].full_byte;
    slot->glyphs.resize(glyph_bytes * OSD_GB2312_ROW);
    slot->size = UINT32_MAX;
    if (end < begin ||
        !Inflate(table + begin, end - begin, slot->glyphs.data(), slot->glyphs.size())) {
        if (!g_damaged[size][row]) {
            g_damaged[size][row] = true;
            std::printf("ERR: OSD font: GB2312 row %u of size class %u is damaged, not drawn\n",
                        row, size);
        }
        return nullptr;
    }
    slot->size = size;
    slot->row = row;
    slot->used = ++g_uses;
    return slot;
}

}  // namespace

const OSD_Font_Tables& OSD_Fonts(VideoStd_ArgSize size)
{
    return kTables[size_class(size)];
}

bool OSD_GB2312_Glyph(VideoStd_ArgSize size, uint32_t index, uint8_t* out)
{
    if (index >= OSD_GB2312_GLYPHS) {
        return false;
    }
    const uint32_t s = size_class(size);
    const size_t glyph_bytes = OSD_Display_Font_Info[s].full_byte;
    const std::lock_guard<std::mutex> lock(g_mutex);
    const CachedRow* row = decoded_row(s, index / OSD_GB2312_ROW);
    if (row == nullptr) {
        return false;
    }
    std::memcpy(out, row->glyphs.data() + (index % OSD_GB2312_ROW) * glyph_bytes, glyph_bytes);
    return true;
}
