#pragma once

#include <optional>

#include "main/av_settings.h"

// The web UI rewrites the settings file in place: a read in that window finds it empty or cut
// short, which reads as 1080p59.94. Acting on such a read would restart the encoder and switch the
// camera twice for nothing. So a change is taken only once two reads in a row agree on it; a single
// odd read leaves the settings as they were. A read that found the file or its format key missing
// is no reading at all: two of them in a row would otherwise agree on the default format.
class settings_agreement {
public:
    // `first`: the settings read at start-up, taken as they are.
    explicit settings_agreement(const video_settings& first);

    // Takes the read of one loop pass and returns the settings to act on: this read when it equals
    // the previous read, else the settings agreed before. No read (nullopt) changes nothing.
    const video_settings& pass(const std::optional<video_settings>& read);

private:
    video_settings m_agreed;
    video_settings m_previous_read;
};
