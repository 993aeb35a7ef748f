#pragma once

namespace vantor::ndi {

// Target compressed size of one picture in bytes (see ndi/README.md):
//   bit rate = 125 Mbit/s × sqrt(pixel rate / (1920 × 1080 × 60))
//   bytes    = bit rate / 8 / (frame_rate_N / frame_rate_D)
// 0 when the size or the rate is not positive.
int target_frame_size(int xres, int yres, int frame_rate_N, int frame_rate_D);

}  // namespace vantor::ndi
