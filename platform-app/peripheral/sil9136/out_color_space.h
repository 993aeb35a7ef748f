#pragma once

#include <cstdint>

// Colour space of the HDMI output.
enum OUT_COLOR_SPACE : uint32_t { COLOR_RGB = 0, COLOR_YUV = 1 };
