#include "platform/osd/osd_font.h"

#include <algorithm>
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

uint32_t offset(const uint8_t* table, uint32_t block)
{
    const uint8_t* at = table + size_t{block} * 4;
    return at[0] | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
           static_cast<uint32_t>(at[3]) << 24;
}

// One decoded block of glyphs of one size class.
struct CachedBlock {
    uint32_t size = UINT32_MAX;  // none
    uint32_t block = 0;
    uint64_t used = 0;  // when last used, for replacing the least recently used
    std::vector<uint8_t> glyphs;
};

std::mutex g_mutex;
CachedBlock g_blocks[OSD_GB2312_CACHE_BLOCKS];
uint64_t g_uses = 0;
bool g_damaged[3][OSD_GB2312_BLOCKS] = {};  // said once each

const CachedBlock* decoded_block(uint32_t size, uint32_t block)
{
    CachedBlock* slot = &g_blocks[0];
    for (CachedBlock& r : g_blocks) {
        if (r.size == size && r.block == block) {
            r.used = ++g_uses;
            return &r;
        }
        if (r.used < slot->used) {
            slot = &r;
        }
    }
    const uint8_t* table = kCompressed[size];
    const uint32_t begin = offset(table, block);
    const uint32_t end = offset(table, block + 1);
    const uint32_t first = block * OSD_GB2312_BLOCK_GLYPHS;
    const uint32_t count = std::min(OSD_GB2312_BLOCK_GLYPHS, OSD_GB2312_GLYPHS - first);
    slot->glyphs.resize(size_t{OSD_Display_Font_Info[size].full_byte} * count);
    slot->size = UINT32_MAX;
    if (end < begin ||
        !Inflate(table + begin, end - begin, slot->glyphs.data(), slot->glyphs.size())) {
        if (!g_damaged[size][block]) {
            g_damaged[size][block] = true;
            std::printf("ERR: OSD font: GB2312 block %u of size class %u is damaged, not drawn\n",
                        block, size);
        }
        return nullptr;
    }
    slot->size = size;
    slot->block = block;
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
    const CachedBlock* block = decoded_block(s, index / OSD_GB2312_BLOCK_GLYPHS);
    if (block == nullptr) {
        return false;
    }
    std::memcpy(out, block->glyphs.data() + (index % OSD_GB2312_BLOCK_GLYPHS) * glyph_bytes,
                glyph_bytes);
    return true;
}
