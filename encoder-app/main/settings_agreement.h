#pragma once

#include "main/av_settings.h"

// The web UI rewrites the settings file in place: a read in that window finds it empty or cut
// short, which reads as 1080p59.94. Acting on such a read would restart the encoder and switch the
// camera twice for nothing. So a change is taken only once two reads in a row agree on it; a single
// odd read leaves the settings as they were.
class settings_agreement {
public:
    // `first`: the settings read at start-up, taken as they are.
    explicit settings_agreement(const video_settings& first);

    // Takes the read of one loop pass and returns the settings to act on: this read when it equals
    // the read of the previous pass, else the settings agreed before.
    const video_settings& pass(const video_settings& read);

private:
    video_settings m_agreed;
    video_settings m_previous_read;
};
