#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One SpeedHQ picture of the camera's preview stream decoded with libavcodec's "speedhq" decoder
// and compressed again with its "mjpeg" encoder, for the page's <img>. The picture keeps its
// size and chroma layout; its levels are stretched to the full range browsers assume for JPEG.
bool speedhq_to_jpeg(const std::vector<std::uint8_t>& speedhq, int width, int height,
                     bool chroma420, std::string& jpeg, std::string& error);
