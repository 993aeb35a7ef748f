#include "picture_png.h"

#include <algorithm>
#include <cstdint>

#include "png_file.h"

namespace {

// Fixed-point BT.709 (video range to full-range RGB), coefficients times 2^16.
constexpr std::int32_t kOne = 1 << 16;
constexpr std::int32_t kLuma = 76309;    // 255 / 219
constexpr std::int32_t kCrToR = 117489;  // 1.5748 x 255 / 224
constexpr std::int32_t kCbToG = 13975;   // 0.1873 x 255 / 224
constexpr std::int32_t kCrToG = 34925;   // 0.4681 x 255 / 224
constexpr std::int32_t kCbToB = 138438;  // 1.8556 x 255 / 224

std::uint8_t clamp_byte(std::int32_t scaled)
{
    return static_cast<std::uint8_t>(std::clamp((scaled + kOne / 2) >> 16, 0, 255));
}

}  // namespace

bool write_picture_png(const DecodedPicture& picture, const std::string& path, std::string& error)
{
    if (picture.width <= 0 || picture.height <= 0) {
        error = "no decoded picture";
        return false;
    }
    const auto fill = [&picture](std::uint32_t row_index, std::uint8_t* row) {
        const int y = static_cast<int>(row_index);
        for (int x = 0; x < picture.width; ++x) {
            const std::int32_t luma = (picture.luma(x, y) - 16) * kLuma;
            const std::int32_t cb = picture.cb(x, y) - 128;
            const std::int32_t cr = picture.cr(x, y) - 128;
            row[0] = clamp_byte(luma + kCrToR * cr);
            row[1] = clamp_byte(luma - kCbToG * cb - kCrToG * cr);
            row[2] = clamp_byte(luma + kCbToB * cb);
            row += 3;
        }
    };
    return write_png(path, static_cast<std::uint32_t>(picture.width),
                     static_cast<std::uint32_t>(picture.height), PngColour::Rgb, fill, error);
}
