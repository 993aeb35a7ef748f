#include "png_file.h"

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <png.h>
#include <vector>

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

bool write_png(const std::string& path, std::uint32_t width, std::uint32_t height, PngColour colour,
               const PngRowFiller& fill_row, std::string& error)
{
    if (width == 0 || height == 0) {
        error =
            "no picture to write (" + std::to_string(width) + " x " + std::to_string(height) + ")";
        return false;
    }
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
    const std::size_t channels = colour == PngColour::Rgb ? 3 : 1;
    // Before setjmp: a longjmp must not skip its destructor.
    std::vector<std::uint8_t> row(std::size_t{width} * channels);
    // libpng reports errors by longjmp; nothing here needs unwinding beyond the two structures.
    if (setjmp(png_jmpbuf(png)) != 0) {  // NOLINT(cert-err52-cpp)
        png_destroy_write_struct(&png, &info);
        error = "libpng failed writing " + path;
        return false;
    }
    png_init_io(png, file.get());
    png_set_IHDR(png, info, width, height, 8,
                 colour == PngColour::Rgb ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (std::uint32_t y = 0; y < height; ++y) {
        fill_row(y, row.data());
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::fflush(file.get()) != 0) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}
