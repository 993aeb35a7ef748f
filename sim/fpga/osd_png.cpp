#include "osd_png.h"

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <png.h>
#include <vector>

namespace {

constexpr uint8_t kForeground = 255;
constexpr uint8_t kBox = 64;
constexpr uint8_t kOutside = 0;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

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

    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        error = "cannot write " + path;
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        error = "libpng does not start";
        return false;
    }
    std::vector<uint8_t> row(width);  // before setjmp: a longjmp must not skip its destructor
    // libpng reports errors by longjmp; nothing here needs unwinding beyond the two structures.
    if (setjmp(png_jmpbuf(png)) != 0) {  // NOLINT(cert-err52-cpp)
        png_destroy_write_struct(&png, &info);
        error = "libpng failed writing " + path;
        return false;
    }
    png_init_io(png, file.get());
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const uint8_t* bitmap = model.osd_window();
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const bool set = (bitmap[y * (width / 8) + x / 8] >> (x % 8) & 1U) != 0;
            const bool in_box = x >= box_x0 && x < box_x1 && y >= box_y0 && y < box_y1;
            row[x] = set ? kForeground : in_box ? kBox : kOutside;
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}
