#include "main/av_settings.h"

#include <cstdlib>
#include <iterator>
#include <limits>

#include "HelperLib/HelperLib.h"
#include "main/video_format.h"
#include "vantor/board_root.h"
#include "vantor/file_io.h"

namespace {

struct FormatEntry {
    const char* text;
    uint32_t working;
    uint32_t display;
};

constexpr FormatEntry kFormats[] = {
    {"1080p23.97", video_format_1080_23_95p, video_format_1080_23_95p},
    {"1080p24", video_format_1080_24p, video_format_1080_24p},
    {"1080p25", video_format_1080_25p, video_format_1080_25p},
    {"1080p29.97", video_format_1080_29p, video_format_1080_29p},
    {"1080p30", video_format_1080_30p, video_format_1080_30p},
    {"720p50", video_format_720_50p, video_format_720_50p},
    {"720p59.94", video_format_720_59p, video_format_720_59p},
    {"720p60", video_format_720_60p, video_format_720_60p},
    {"1080i50", video_format_1080_25i, video_format_1080_25i},
    {"1080i59.94", video_format_1080_29i, video_format_1080_29i},
    {"1080i60", video_format_1080_30i, video_format_1080_30i},
    {"1080p50", video_format_1080_50p, video_format_1080_50p},
    {"1080p59.94", video_format_1080_59p, video_format_1080_59p},
    {"1080p60", video_format_1080_60p, video_format_1080_60p},
    {"2160p23.97", video_format_2160_23_95p, video_format_2160_23_95p},
    {"2160p24", video_format_2160_24p, video_format_2160_24p},
    {"2160p25", video_format_2160_25p, video_format_2160_25p},
    {"2160p29.97", video_format_2160_29p, video_format_2160_29p},
    // The encoder and camera run 2160p30 as 2160p29.97; the dashboard shows what was chosen.
    {"2160p30", video_format_2160_29p, video_format_2160_30p},
};

constexpr uint32_t kDefaultFormat = video_format_1080_59p;

}  // namespace

video_format_codes video_format_from_text(const std::string& text)
{
    for (const FormatEntry& entry : kFormats) {
        if (text == entry.text) {
            return {static_cast<int>(entry.working), static_cast<int>(entry.display)};
        }
    }
    return {static_cast<int>(kDefaultFormat), static_cast<int>(kDefaultFormat)};
}

const char* video_format_text(std::size_t index)
{
    return index < std::size(kFormats) ? kFormats[index].text : nullptr;
}

int encoder_420_for_format(int vid_format, int sr_420_en)
{
    const bool lines_2160 = vid_format >= static_cast<int>(video_format_2160_23_95p) &&
                            vid_format <= static_cast<int>(video_format_2160_30p);
    return lines_2160 && sr_420_en == 1 ? 1 : 0;
}

int scaled_gain(const std::string& text, double factor, bool from_hundred)
{
    const long value = std::strtol(text.c_str(), nullptr, 10);
    const double base =
        from_hundred ? 100.0 - static_cast<double>(value) : static_cast<double>(value);
    const double scaled = base * factor;
    // A file value far outside 0-100 must not overflow the conversion.
    if (scaled >= static_cast<double>(std::numeric_limits<int>::max())) {
        return std::numeric_limits<int>::max();
    }
    if (scaled <= static_cast<double>(std::numeric_limits<int>::min())) {
        return std::numeric_limits<int>::min();
    }
    return static_cast<int>(scaled);
}

bool operator==(const video_settings& a, const video_settings& b)
{
    return a.working == b.working && a.display == b.display && a.sr_420_en == b.sr_420_en;
}

bool operator!=(const video_settings& a, const video_settings& b)
{
    return !(a == b);
}

bool read_av_settings(av_settings& settings, int& display_vid_format)
{
    // A file that cannot be read leaves the text empty: every key then reads as "NULL".
    std::string text;
    const bool file_read = vantor::read_file(vantor::board_path(kEncoderSettingsFile), text);
    const std::string format = GetJsonStringFromText(text, "VideoFormat");
    const video_format_codes codes = video_format_from_text(format);
    settings.videoin = codes.working;
    display_vid_format = codes.display;
    settings.sr_420_en = GetJsonStringFromText(text, "VideoSampleRate") == "420" ? 1 : 0;
    settings.ajingain =
        scaled_gain(GetJsonString(kAudioSettingsFile, "AnalogAudioInGain"), 1.2, false);
    settings.ajoutgain =
        scaled_gain(GetJsonString(kAudioSettingsFile, "AnalogAudioOutGain"), 1.28, true);
    return file_read && format != "NULL";
}
