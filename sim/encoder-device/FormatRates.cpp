#include "FormatRates.h"

#include "NdiTransmitter/vantor_speedhq_ioctl.h"
#include "vantor/file_io.h"

namespace {

constexpr const char* kSocketName = "/dev/vantor-speedhq";
constexpr const char* kSettingsName = "/etc/vantor-enc1-settings.json";
constexpr const char* kVideoFormatKey = R"("VideoFormat":")";

// One "VideoFormat" text: the encoder mode it runs in and its picture rate as a fraction.
struct FormatRate {
    const char* text;
    int mode;
    int rate_n;
    int rate_d;
};

// 1080i sends each field as a picture: 1080i50 gives 50 pictures a second. The camera produces
// "2160p30" as 2160p29.97.
constexpr FormatRate kFormatRates[] = {
    {"1080p23.97", VANTOR_SPEEDHQ_MODE_1080P, 24000, 1001},
    {"1080p24", VANTOR_SPEEDHQ_MODE_1080P, 24, 1},
    {"1080p25", VANTOR_SPEEDHQ_MODE_1080P, 25, 1},
    {"1080p29.97", VANTOR_SPEEDHQ_MODE_1080P, 30000, 1001},
    {"1080p30", VANTOR_SPEEDHQ_MODE_1080P, 30, 1},
    {"720p50", VANTOR_SPEEDHQ_MODE_720P, 50, 1},
    {"720p59.94", VANTOR_SPEEDHQ_MODE_720P, 60000, 1001},
    {"720p60", VANTOR_SPEEDHQ_MODE_720P, 60, 1},
    {"1080i50", VANTOR_SPEEDHQ_MODE_1080I, 50, 1},
    {"1080i59.94", VANTOR_SPEEDHQ_MODE_1080I, 60000, 1001},
    {"1080i60", VANTOR_SPEEDHQ_MODE_1080I, 60, 1},
    {"1080p50", VANTOR_SPEEDHQ_MODE_1080P, 50, 1},
    {"1080p59.94", VANTOR_SPEEDHQ_MODE_1080P, 60000, 1001},
    {"1080p60", VANTOR_SPEEDHQ_MODE_1080P, 60, 1},
    {"2160p23.97", VANTOR_SPEEDHQ_MODE_2160P, 24000, 1001},
    {"2160p24", VANTOR_SPEEDHQ_MODE_2160P, 24, 1},
    {"2160p25", VANTOR_SPEEDHQ_MODE_2160P, 25, 1},
    {"2160p29.97", VANTOR_SPEEDHQ_MODE_2160P, 30000, 1001},
    {"2160p30", VANTOR_SPEEDHQ_MODE_2160P, 30000, 1001},
};

bool ends_with(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::string settings_path_for_socket(const std::string& socket_path)
{
    const std::string socket_name = kSocketName;
    if (!ends_with(socket_path, socket_name)) {
        return {};
    }
    return socket_path.substr(0, socket_path.size() - socket_name.size()) + kSettingsName;
}

std::string read_video_format(const std::string& path)
{
    std::string text;
    if (path.empty() || !vantor::read_file(path, text)) {
        return {};
    }
    const std::size_t key = text.find(kVideoFormatKey);
    if (key == std::string::npos) {
        return {};
    }
    const std::size_t value = key + std::string(kVideoFormatKey).size();
    const std::size_t end = text.find('"', value);
    return end == std::string::npos ? std::string() : text.substr(value, end - value);
}

double format_picture_rate(const std::string& video_format, int mode)
{
    for (const FormatRate& format : kFormatRates) {
        if (video_format == format.text && mode == format.mode) {
            return static_cast<double>(format.rate_n) / format.rate_d;
        }
    }
    return 0.0;
}
