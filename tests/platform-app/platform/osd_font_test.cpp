// The OSD font: what the generator drew (checked against shapes, not against its own tables), and
// the compressed GB2312 tables the daemon links decoding to exactly the generated bitmaps.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/osd/osd.h"
#include "platform/osd/osd_font.h"

namespace {

// The table `name` as the generator wrote it (the bitmaps as drawn).
std::vector<uint8_t> generated(const std::string& name)
{
    std::ifstream in(std::string(VANTOR_OSD_FONT_DIR) + "/" + name + ".bin", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One glyph of `width` x `height` pixels, bit 0 of a byte leftmost.
struct GlyphView {
    const uint8_t* bytes;
    uint32_t width, height;

    bool ink(uint32_t x, uint32_t y) const
    {
        return (bytes[y * (width / 8) + x / 8] >> (x % 8) & 1U) != 0;
    }
    uint32_t column(uint32_t x) const
    {
        uint32_t n = 0;
        for (uint32_t y = 0; y < height; ++y) {
            n += ink(x, y) ? 1 : 0;
        }
        return n;
    }
    uint32_t area(uint32_t x0, uint32_t x1) const
    {
        uint32_t n = 0;
        for (uint32_t x = x0; x < x1; ++x) {
            n += column(x);
        }
        return n;
    }
    uint32_t total() const { return area(0, width); }
    // Rows from the first to the last with ink (0 for a blank glyph).
    uint32_t ink_height() const
    {
        uint32_t first = height, last = 0;
        for (uint32_t y = 0; y < height; ++y) {
            for (uint32_t x = 0; x < width; ++x) {
                if (ink(x, y)) {
                    first = std::min(first, y);
                    last = std::max(last, y);
                }
            }
        }
        return first > last ? 0 : last - first + 1;
    }
};

struct SizeClass {
    const char* half;  // "24x48"
    const char* full;  // "48x48"
    uint32_t size;     // full-width glyph: size x size
};
const SizeClass kSizes[] = {{"48x96", "96x96", 96}, {"24x48", "48x48", 48}, {"16x32", "32x32", 32}};

size_t gb_index(uint8_t h, uint8_t l)
{
    return size_t{h - 0xA1U} * 94 + (l - 0xA1U);
}

TEST(OsdFontGenerator, DrawsTheShapesTheCodesName)
{
    for (const SizeClass& s : kSizes) {
        SCOPED_TRACE(s.full);
        const uint32_t half_w = s.size / 2;
        const std::vector<uint8_t> arrow_table = generated(std::string("DIR_") + s.half);
        const std::vector<uint8_t> ascii = generated(std::string("ASCII_") + s.half);
        const std::vector<uint8_t> gb = generated(std::string("GB2312_") + s.full);
        const size_t half_bytes = size_t{half_w} / 8 * s.size;
        const size_t full_bytes = size_t{s.size} / 8 * s.size;
        ASSERT_EQ(arrow_table.size(), half_bytes);
        ASSERT_EQ(ascii.size(), 128 * half_bytes);
        ASSERT_EQ(gb.size(), 8836 * full_bytes);

        // The arrow points right: the head's ink lies right of the middle and the tip, its
        // rightmost column, is thinner than the shaft's first column.
        const GlyphView arrow{arrow_table.data(), half_w, s.size};
        EXPECT_GT(arrow.area(half_w / 2, half_w), arrow.area(0, half_w / 2));
        uint32_t left = 0, right = half_w - 1;
        while (left < half_w && arrow.column(left) == 0) {
            ++left;
        }
        while (right > 0 && arrow.column(right) == 0) {
            --right;
        }
        ASSERT_LT(left, right);
        EXPECT_LT(arrow.column(right), arrow.column(left));

        // '[' has its ink on the left, ']' on the right.
        const GlyphView open{ascii.data() + '[' * half_bytes, half_w, s.size};
        const GlyphView close{ascii.data() + ']' * half_bytes, half_w, s.size};
        EXPECT_GT(open.area(0, half_w / 2), open.area(half_w / 2, half_w));
        EXPECT_GT(close.area(half_w / 2, half_w), close.area(0, half_w / 2));
        EXPECT_GT(open.area(0, half_w / 2), close.area(0, half_w / 2));
        const GlyphView nul{ascii.data(), half_w, s.size};
        EXPECT_EQ(nul.total(), 0U) << "code 0 is blank";

        const auto glyph = [&](uint8_t h, uint8_t l) {
            return GlyphView{gb.data() + gb_index(h, l) * full_bytes, s.size, s.size};
        };
        EXPECT_GT(glyph(0xA1, 0xA2).total(), 0U) << "the first symbol, the ideographic comma";
        EXPECT_GT(glyph(0xB0, 0xA1).total(), 0U) << "the first character of level 1";
        EXPECT_GT(glyph(0xD7, 0xF9).total(), 0U) << "the last character of level 1";
        EXPECT_EQ(glyph(0xD7, 0xFA).total(), 0U) << "unassigned after the last of level 1";
        EXPECT_EQ(glyph(0xAA, 0xA1).total(), 0U) << "unassigned row 10";
        EXPECT_EQ(glyph(0xA1, 0xA1).total(), 0U) << "the ideographic space";
        // D2BB is "one": a single flat stroke, wide and a few rows high.
        const GlyphView one = glyph(0xD2, 0xBB);
        EXPECT_GT(one.area(0, s.size / 4), 0U);
        EXPECT_GT(one.area(3 * s.size / 4, s.size), 0U);
        EXPECT_GT(one.ink_height(), 0U);
        EXPECT_LT(one.ink_height(), s.size / 5);
    }
}

TEST(OsdFont, LinkedTablesDrawExactlyTheGeneratedBitmaps)
{
    const VideoStd_ArgSize sizes[] = {ARG_SIZE_3840x2160, ARG_SIZE_1920x1080, ARG_SIZE_1280x720};
    for (size_t n = 0; n < 3; ++n) {
        const SizeClass& s = kSizes[n];
        SCOPED_TRACE(s.full);
        const OSD_Display_Font& f = OSD_Display_Font_Info[sizes[n]];
        const OSD_Font_Tables& linked = OSD_Fonts(sizes[n]);
        const std::vector<uint8_t> ascii = generated(std::string("ASCII_") + s.half);
        const std::vector<uint8_t> arrow = generated(std::string("DIR_") + s.half);
        const std::vector<uint8_t> gb = generated(std::string("GB2312_") + s.full);
        ASSERT_EQ(gb.size(), size_t{OSD_GB2312_GLYPHS} * f.full_byte);
        EXPECT_TRUE(std::equal(ascii.begin(), ascii.end(), linked.ascii));
        EXPECT_TRUE(std::equal(arrow.begin(), arrow.end(), linked.dir));
        size_t differing = 0;
        std::vector<uint8_t> glyph(f.full_byte);
        for (uint32_t g = 0; g < OSD_GB2312_GLYPHS; ++g) {
            ASSERT_TRUE(OSD_GB2312_Glyph(sizes[n], g, glyph.data())) << g;
            differing +=
                std::equal(glyph.begin(), glyph.end(),
                           gb.begin() + static_cast<std::ptrdiff_t>(size_t{g} * f.full_byte))
                    ? 0U
                    : 1U;
        }
        EXPECT_EQ(differing, 0U);
    }
    std::vector<uint8_t> glyph(OSD_Display_Font_Info[0].full_byte);
    EXPECT_FALSE(OSD_GB2312_Glyph(ARG_SIZE_3840x2160, OSD_GB2312_GLYPHS, glyph.data()));
}

}  // namespace
