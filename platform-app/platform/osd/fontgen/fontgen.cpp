// osd-fontgen <ascii font> <cjk font> <output folder>
//
// Renders the OSD font tables with FreeType in 1-bit monochrome: 128 ASCII glyphs from the
// monospace font (codes below 32 and 127 blank), the 8,836 GB2312 glyphs from the CJK font (codes
// mapped to Unicode with iconv; codes GB2312 leaves unassigned stay blank) and the arrow glyph,
// each in the three size classes. Writes one <table>.bin per table (the bitmaps as they are
// drawn), a compressed <table>_Z.bin per GB2312 table (554 little-endian 32-bit offsets from its
// start, then each block of 16 glyphs as one raw DEFLATE stream) and osd_font_data.cpp, which
// embeds the ASCII, arrow and compressed GB2312 files with .incbin and names each one's checksum,
// so a changed table also changes the source a compiler cache sees. The output depends only on the
// font files, FreeType and zlib.

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iconv.h>
#include <string>
#include <vector>
#include <zlib.h>

#include "glyph_raster.h"

namespace {

struct SizeClass {
    const char* suffix;  // "24x48": half-width glyph size
    uint32_t full;       // full-width glyph: full x full
};

// iconv_open's failure value.
// NOLINTNEXTLINE(performance-no-int-to-ptr)
void* const kNoConversion = reinterpret_cast<iconv_t>(-1);

const SizeClass kSizes[] = {{"48x96", 96}, {"24x48", 48}, {"16x32", 32}};

struct Table {
    std::string name;
    std::vector<uint8_t> bytes;
    bool embedded;  // linked into the daemon (else only written for tests)
};

// Glyphs per compressed block: small enough that drawing a character from a block not in the
// daemon's cache costs little, large enough to compress nearly as well as whole rows (blocks of
// 16: 2.38 MB for the three tables; rows of 94: 2.32 MB; single glyphs: 2.99 MB).
constexpr uint32_t kBlockGlyphs = 16;

// Draws `code` from `face` into `box`: scaled so the font's line height fits the box, on a
// baseline at the font's ascent, centred horizontally on its advance.
bool render(FT_Face face, uint32_t code, uint32_t em_pixels, GlyphBox& box)
{
    if (FT_Set_Pixel_Sizes(face, 0, em_pixels) != 0) {
        return false;
    }
    const FT_UInt index = FT_Get_Char_Index(face, code);
    if (index == 0) {
        return true;  // not in the font: blank
    }
    if (FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME) !=
        0) {
        return false;
    }
    FT_GlyphSlot slot = face->glyph;
    const FT_Bitmap& bitmap = slot->bitmap;
    const int64_t ascent = face->size->metrics.ascender >> 6;
    const int64_t descent = -(face->size->metrics.descender >> 6);
    const int64_t line = ascent + descent;
    const int64_t top_pad = (static_cast<int64_t>(box.height) - line) / 2;
    const int64_t baseline = top_pad + ascent;
    const int64_t advance = slot->advance.x >> 6;
    const int64_t left = (static_cast<int64_t>(box.width) - advance) / 2 + slot->bitmap_left;
    const int64_t top = baseline - slot->bitmap_top;
    for (uint32_t r = 0; r < bitmap.rows; ++r) {
        const uint8_t* row = bitmap.buffer + static_cast<int64_t>(r) * bitmap.pitch;
        for (uint32_t c = 0; c < bitmap.width; ++c) {
            if ((row[c / 8] & (0x80U >> (c % 8))) != 0) {
                box.set(left + c, top + r);
            }
        }
    }
    return true;
}

// The largest pixel size at which the font's line height and `sample`'s advance fit the box.
uint32_t fitting_size(FT_Face face, uint32_t sample, uint32_t width, uint32_t height)
{
    for (uint32_t px = height; px > 4; --px) {
        if (FT_Set_Pixel_Sizes(face, 0, px) != 0 ||
            FT_Load_Char(face, sample, FT_LOAD_DEFAULT) != 0) {
            continue;
        }
        const int64_t line =
            (face->size->metrics.ascender >> 6) - (face->size->metrics.descender >> 6);
        if (line <= static_cast<int64_t>(height) &&
            (face->glyph->advance.x >> 6) <= static_cast<int64_t>(width)) {
            return px;
        }
    }
    return 4;
}

uint32_t gb2312_to_unicode(iconv_t cd, uint8_t h, uint8_t l)
{
    char in[2] = {static_cast<char>(h), static_cast<char>(l)};
    unsigned char out[4] = {};
    char* in_p = in;
    char* out_p = reinterpret_cast<char*>(out);
    size_t in_left = sizeof in;
    size_t out_left = sizeof out;
    (void)iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &in_p, &in_left, &out_p, &out_left) == static_cast<size_t>(-1) || out_left != 0) {
        return 0;
    }
    return static_cast<uint32_t>(out[0]) | static_cast<uint32_t>(out[1]) << 8 |
           static_cast<uint32_t>(out[2]) << 16 | static_cast<uint32_t>(out[3]) << 24;
}

// One raw DEFLATE stream of `size` bytes at `data`, appended to `out`.
bool deflate_raw(const uint8_t* data, size_t size, std::vector<uint8_t>& out)
{
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
        return false;
    }
    std::vector<uint8_t> buffer(deflateBound(&z, static_cast<uLong>(size)));
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = buffer.data();
    z.avail_out = static_cast<uInt>(buffer.size());
    const int status = deflate(&z, Z_FINISH);
    const size_t written = buffer.size() - z.avail_out;
    deflateEnd(&z);
    if (status != Z_STREAM_END) {
        return false;
    }
    out.insert(out.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(written));
    return true;
}

// The GB2312 table (`glyph_bytes` per glyph) compressed in blocks of kBlockGlyphs: the offsets of
// the blocks and of the end (little-endian, from the start), then the streams.
bool compress_blocks(const std::vector<uint8_t>& glyphs, size_t glyph_bytes,
                     std::vector<uint8_t>& out)
{
    const size_t count = glyphs.size() / glyph_bytes;
    const size_t blocks = (count + kBlockGlyphs - 1) / kBlockGlyphs;
    out.assign((blocks + 1) * 4, 0);
    for (size_t block = 0; block <= blocks; ++block) {
        const auto at = static_cast<uint32_t>(out.size());
        for (uint32_t b = 0; b < 4; ++b) {
            out[block * 4 + b] = static_cast<uint8_t>(at >> (8 * b));
        }
        if (block == blocks) {
            break;
        }
        const size_t first = block * kBlockGlyphs;
        const size_t n = std::min<size_t>(kBlockGlyphs, count - first);
        if (!deflate_raw(glyphs.data() + first * glyph_bytes, n * glyph_bytes, out)) {
            return false;
        }
    }
    return true;
}

void append(std::vector<uint8_t>& to, const GlyphBox& box)
{
    to.insert(to.end(), box.bytes.begin(), box.bytes.end());
}

bool build_tables(FT_Face ascii, FT_Face cjk, iconv_t cd, std::vector<Table>& tables)
{
    for (const SizeClass& size : kSizes) {
        const uint32_t half_w = size.full / 2;
        const uint32_t h = size.full;
        Table ascii_table{std::string("ASCII_") + size.suffix, {}, true};
        const uint32_t ascii_px = fitting_size(ascii, 'M', half_w, h);
        for (uint32_t code = 0; code < 128; ++code) {
            GlyphBox box(half_w, h);
            if (code >= 32 && code < 127 && !render(ascii, code, ascii_px, box)) {
                std::fprintf(stderr, "osd-fontgen: cannot render ASCII %u\n", code);
                return false;
            }
            append(ascii_table.bytes, box);
        }
        Table gb_table{
            "GB2312_" + std::to_string(size.full) + "x" + std::to_string(size.full), {}, false};
        const uint32_t cjk_px = fitting_size(cjk, 0x4E2D, size.full, size.full);
        for (uint32_t hi = 0xA1; hi <= 0xFE; ++hi) {
            for (uint32_t lo = 0xA1; lo <= 0xFE; ++lo) {
                GlyphBox box(size.full, size.full);
                const uint32_t code =
                    gb2312_to_unicode(cd, static_cast<uint8_t>(hi), static_cast<uint8_t>(lo));
                if (code != 0 && !render(cjk, code, cjk_px, box)) {
                    std::fprintf(stderr, "osd-fontgen: cannot render GB2312 %02X%02X\n", hi, lo);
                    return false;
                }
                append(gb_table.bytes, box);
            }
        }
        Table dir_table{std::string("DIR_") + size.suffix, draw_arrow(half_w, h).bytes, true};
        Table compressed{gb_table.name + "_Z", {}, true};
        if (!compress_blocks(gb_table.bytes, size_t{size.full} / 8 * size.full, compressed.bytes)) {
            std::fprintf(stderr, "osd-fontgen: cannot compress %s\n", gb_table.name.c_str());
            return false;
        }
        tables.push_back(std::move(ascii_table));
        tables.push_back(std::move(gb_table));
        tables.push_back(std::move(compressed));
        tables.push_back(std::move(dir_table));
    }
    return true;
}

uint32_t fnv1a(const std::vector<uint8_t>& bytes)
{
    uint32_t hash = 2166136261U;
    for (const uint8_t b : bytes) {
        hash = (hash ^ b) * 16777619U;
    }
    return hash;
}

bool write_outputs(const std::string& folder, const std::vector<Table>& tables)
{
    std::string source =
        "// Generated by osd-fontgen: the OSD font tables as binary data. Do not edit.\n\n";
    for (const Table& t : tables) {
        const std::string path = folder + "/" + t.name + ".bin";
        std::ofstream bin(path, std::ios::binary | std::ios::trunc);
        bin.write(reinterpret_cast<const char*>(t.bytes.data()),
                  static_cast<std::streamsize>(t.bytes.size()));
        if (!bin) {
            std::fprintf(stderr, "osd-fontgen: cannot write %s\n", path.c_str());
            return false;
        }
        if (!t.embedded) {
            continue;
        }
        char checksum[16];
        std::snprintf(checksum, sizeof checksum, "%08x", fnv1a(t.bytes));
        source += "// " + t.name + ": " + std::to_string(t.bytes.size()) + " bytes, FNV-1a " +
                  checksum + "\n";
        source += "__asm__(\".section .rodata\\n\"\n"
                  "        \".global " +
                  t.name +
                  "\\n\"\n"
                  "        \".type " +
                  t.name +
                  ", %object\\n\"\n"
                  "        \".balign 4\\n\"\n"
                  "        \"" +
                  t.name +
                  ":\\n\"\n"
                  "        \".incbin \\\"" +
                  path +
                  "\\\"\\n\"\n"
                  "        \".size " +
                  t.name + ", " + std::to_string(t.bytes.size()) +
                  "\\n\"\n"
                  "        \".previous\\n\");\n\n";
    }
    const std::string path = folder + "/osd_font_data.cpp";
    std::ofstream out(path, std::ios::trunc);
    out << source;
    if (!out) {
        std::fprintf(stderr, "osd-fontgen: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: osd-fontgen <ascii font> <cjk font> <output folder>\n");
        return 2;
    }
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) {
        std::fprintf(stderr, "osd-fontgen: FreeType does not start\n");
        return 1;
    }
    FT_Face ascii = nullptr;
    FT_Face cjk = nullptr;
    iconv_t cd = iconv_open("UTF-32LE", "GB2312");
    int status = 1;
    if (FT_New_Face(library, argv[1], 0, &ascii) != 0) {
        std::fprintf(stderr, "osd-fontgen: cannot open font %s\n", argv[1]);
    } else if (FT_New_Face(library, argv[2], 0, &cjk) != 0) {
        std::fprintf(stderr, "osd-fontgen: cannot open font %s\n", argv[2]);
    } else if (cd == kNoConversion) {
        std::fprintf(stderr, "osd-fontgen: iconv has no GB2312: %s\n", std::strerror(errno));
    } else {
        std::vector<Table> tables;
        if (build_tables(ascii, cjk, cd, tables) && write_outputs(argv[3], tables)) {
            status = 0;
        }
    }
    if (cd != kNoConversion) {
        iconv_close(cd);
    }
    if (cjk != nullptr) {
        FT_Done_Face(cjk);
    }
    if (ascii != nullptr) {
        FT_Done_Face(ascii);
    }
    FT_Done_FreeType(library);
    return status;
}
