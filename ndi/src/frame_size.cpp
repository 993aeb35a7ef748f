#include "frame_size.h"

#include <cmath>

namespace vantor::ndi {

int target_frame_size(int xres, int yres, int frame_rate_N, int frame_rate_D)
{
    if (xres <= 0 || yres <= 0 || frame_rate_N <= 0 || frame_rate_D <= 0) {
        return 0;
    }
    // SpeedHQ at its highest bandwidth needs about 125 Mbit/s for 1080p60 and twice that for four
    // times the pixels (2160p60): the rate grows with the square root of the pixel rate.
    constexpr double kReferenceBitsPerSecond = 125.0e6;
    constexpr double kReferencePixelRate = 1920.0 * 1080.0 * 60.0;
    const double frames_per_second =
        static_cast<double>(frame_rate_N) / static_cast<double>(frame_rate_D);
    const double pixel_rate = static_cast<double>(xres) * yres * frames_per_second;
    const double bits_per_second =
        kReferenceBitsPerSecond * std::sqrt(pixel_rate / kReferencePixelRate);
    const double bytes = bits_per_second / 8.0 / frames_per_second;
    // A picture larger than 2 GB is not a real case; keep the result in range anyway.
    return bytes >= 2.0e9 ? 2000000000 : static_cast<int>(bytes);
}

}  // namespace vantor::ndi
