#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Compresses test-pattern pictures to SpeedHQ with libavcodec's "speedhq" encoder: one field per
// picture, 4:2:0 (SHQ0) or 4:2:2 (SHQ2). Each picture starts with the SpeedHQ header: the quality
// byte (100 - 2 x quantiser) and the 24-bit second-field offset 4 of a single field.
struct PictureLayout {
    int width = 0;
    int height = 0;
    bool chroma420 = true;
    int counter = 0;  // drawn into the picture
    int field = -1;   // field parity marker, -1 for none
};

// The fixed quantiser the pictures are encoded with.
inline constexpr int kSpeedHqQuantiser = 4;

// Encodes one picture into `out`; false with `error` set when libavcodec refuses.
bool encode_speedhq_picture(const PictureLayout& layout, std::vector<std::uint8_t>& out,
                            std::string& error);
