#pragma once

// Writes 8-bit PNG pictures with libpng, one row at a time from a caller's function, so that no
// caller keeps a whole converted picture in memory.

#include <cstdint>
#include <functional>
#include <string>

enum class PngColour : std::uint8_t { Grey, Rgb };

// Fills `row` (width bytes for Grey, 3 x width for Rgb) with row `y` of the picture.
using PngRowFiller = std::function<void(std::uint32_t y, std::uint8_t* row)>;

// Writes a width x height picture to `path`; false with `error` set when the file cannot be
// written or libpng fails.
bool write_png(const std::string& path, std::uint32_t width, std::uint32_t height, PngColour colour,
               const PngRowFiller& fill_row, std::string& error);
