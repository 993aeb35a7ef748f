#include "osd_png.h"

#include "png_file.h"

namespace {

constexpr uint8_t kForeground = 255;
constexpr uint8_t kBox = 64;
constexpr uint8_t kOutside = 0;

}  // namespace

bool write_osd_png(const FpgaModel& model, const std::string& path, std::string& error)
{
    const uint32_t scale = model.read(OSD_REG_OSD_PARALLEL_ENABLE) != 0 ? 2U : 1U;
    const uint32_t width = model.read(OSD_REG_OSD_H_STOP_POINT) * scale;
    const uint32_t height = model.read(OSD_REG_OSD_V_STOP_POINT);
    if (width == 0 || height == 0 || width % 8 != 0 ||
        uint64_t{width} / 8 * height > Mem_Map_Str_Table[GP0_M_BASE_ADDR].SizeByte) {
        error = "the OSD engine is not programmed (" + std::to_string(width) + " x " +
                std::to_string(height) + ")";
        return false;
    }
    // The box registers count from 1; horizontal ones in clock units.
    const uint32_t box_x0 = (model.read(OSD_REG_OSD_BG_H_START_POINT) - 1) * scale;
    const uint32_t box_x1 = (model.read(OSD_REG_OSD_BG_H_STOP_POINT) - 1) * scale;
    const uint32_t box_y0 = model.read(OSD_REG_OSD_BG_V_START_POINT) - 1;
    const uint32_t box_y1 = model.read(OSD_REG_OSD_BG_V_STOP_POINT) - 1;

    const uint8_t* bitmap = model.osd_window();
    const auto fill = [&](uint32_t y, uint8_t* row) {
        for (uint32_t x = 0; x < width; ++x) {
            const bool set = (bitmap[y * (width / 8) + x / 8] >> (x % 8) & 1U) != 0;
            const bool in_box = x >= box_x0 && x < box_x1 && y >= box_y0 && y < box_y1;
            row[x] = set ? kForeground : in_box ? kBox : kOutside;
        }
    };
    return write_png(path, width, height, PngColour::Grey, fill, error);
}
