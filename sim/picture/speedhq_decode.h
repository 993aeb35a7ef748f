#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One SpeedHQ picture decoded with libavcodec's "speedhq" decoder, as 8-bit planes.
struct DecodedPicture {
    int width = 0;
    int height = 0;
    bool chroma420 = false;  // else 4:2:2
    std::vector<std::uint8_t> planes[3];
    int strides[3] = {0, 0, 0};

    int luma(int x, int y) const { return planes[0][offset(0, x, y)]; }
    int cb(int x, int y) const { return chroma(1, x, y); }
    int cr(int x, int y) const { return chroma(2, x, y); }

private:
    std::size_t offset(int plane, int x, int y) const
    {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(strides[plane]) +
               static_cast<std::size_t>(x);
    }
    int chroma(int plane, int x, int y) const
    {
        return planes[plane][offset(plane, x / 2, chroma420 ? y / 2 : y)];
    }
};

// Decodes `bytes` as a SHQ0 (4:2:0) or SHQ2 (4:2:2) picture of the given size; false with
// `error` set when the decoder refuses the bytes.
bool decode_speedhq(const std::vector<std::uint8_t>& bytes, int width, int height, bool chroma420,
                    DecodedPicture& picture, std::string& error);
