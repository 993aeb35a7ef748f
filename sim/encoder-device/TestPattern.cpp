#include "TestPattern.h"

#include <algorithm>
#include <cstddef>
#include <string>

namespace {

struct Colour {
    std::uint8_t y;
    std::uint8_t cb;
    std::uint8_t cr;
};

// 75% bars, BT.709 limited range: white, yellow, cyan, green, magenta, red, blue.
constexpr Colour kBars[] = {{180, 128, 128}, {168, 44, 136}, {145, 147, 44}, {134, 63, 52},
                            {63, 193, 204},  {51, 109, 212}, {28, 212, 120}};
constexpr Colour kBlack = {16, 128, 128};
constexpr Colour kWhite = {235, 128, 128};

// 5x7 digits, one byte per row, bit 4 = leftmost column.
constexpr std::uint8_t kDigits[10][7] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}};

std::uint8_t* row(const PlanarPicture& picture, int plane, int y)
{
    return picture.plane[plane] + static_cast<std::ptrdiff_t>(y) * picture.stride[plane];
}

void fill_rect(const PlanarPicture& picture, int x0, int y0, int x1, int y1, Colour colour)
{
    x0 = std::clamp(x0, 0, picture.width);
    x1 = std::clamp(x1, 0, picture.width);
    y0 = std::clamp(y0, 0, picture.height);
    y1 = std::clamp(y1, 0, picture.height);
    for (int y = y0; y < y1; ++y) {
        std::fill(row(picture, 0, y) + x0, row(picture, 0, y) + x1, colour.y);
    }
    const int cx0 = x0 >> picture.chroma_shift_x;
    const int cx1 = (x1 + (1 << picture.chroma_shift_x) - 1) >> picture.chroma_shift_x;
    const int cy0 = y0 >> picture.chroma_shift_y;
    const int cy1 = (y1 + (1 << picture.chroma_shift_y) - 1) >> picture.chroma_shift_y;
    for (int y = cy0; y < cy1; ++y) {
        std::fill(row(picture, 1, y) + cx0, row(picture, 1, y) + cx1, colour.cb);
        std::fill(row(picture, 2, y) + cx0, row(picture, 2, y) + cx1, colour.cr);
    }
}

void draw_number(const PlanarPicture& picture, int x, int y, int scale, const std::string& text)
{
    for (const char c : text) {
        const int digit = c - '0';
        for (int row = 0; row < 7; ++row) {
            for (int column = 0; column < 5; ++column) {
                if ((kDigits[digit][row] & (0x10U >> static_cast<unsigned>(column))) != 0) {
                    fill_rect(picture, x + column * scale, y + row * scale,
                              x + (column + 1) * scale, y + (row + 1) * scale, kWhite);
                }
            }
        }
        x += 6 * scale;
    }
}

}  // namespace

void draw_test_pattern(const PlanarPicture& picture, int counter, int field)
{
    const int w = picture.width;
    const int h = picture.height;
    const int bars_bottom = h * 2 / 3;
    constexpr int kBarCount = static_cast<int>(sizeof(kBars) / sizeof(kBars[0]));
    for (int i = 0; i < kBarCount; ++i) {
        fill_rect(picture, w * i / kBarCount, 0, w * (i + 1) / kBarCount, bars_bottom, kBars[i]);
    }
    // Grey ramp from black to white.
    constexpr int kSteps = 16;
    for (int i = 0; i < kSteps; ++i) {
        const auto level = static_cast<std::uint8_t>(16 + (219 * i) / (kSteps - 1));
        fill_rect(picture, w * i / kSteps, bars_bottom, w * (i + 1) / kSteps, h * 3 / 4,
                  Colour{level, 128, 128});
    }
    fill_rect(picture, 0, h * 3 / 4, w, h, kBlack);

    // A box that moves one step per picture across the bars.
    const int box = std::max(h / 12, 4);
    const int x = (counter * box) % std::max(w - box, 1);
    fill_rect(picture, x, bars_bottom / 2 - box / 2, x + box, bars_bottom / 2 + box / 2, kWhite);

    const int scale = std::max(h / 60, 1);
    draw_number(picture, w / 2 - 9 * scale, h * 3 / 4 + (h / 4 - 7 * scale) / 2, scale,
                std::to_string(counter));
    if (field >= 0) {
        const int marker_x = field == 0 ? w / 16 : w - w / 16 - 4 * scale;
        fill_rect(picture, marker_x, h * 3 / 4 + 2 * scale, marker_x + 4 * scale,
                  h * 3 / 4 + 6 * scale, kWhite);
    }
}
