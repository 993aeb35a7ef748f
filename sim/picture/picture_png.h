#pragma once

// A decoded picture as an RGB PNG file: BT.709 colours, video range (Y 16-235, Cb/Cr 16-240), as
// the HD and UHD formats of the camera carry them.

#include <string>

#include "speedhq_decode.h"

bool write_picture_png(const DecodedPicture& picture, const std::string& path, std::string& error);
