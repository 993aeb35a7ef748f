#pragma once

#include <string>
#include <vector>

#include "Processing.NDI.Lib.h"

namespace ndi_monitor {

struct Options {
    std::string source;  // a sender name, or "host:port"
    NDIlib_recv_bandwidth_e streams = NDIlib_recv_bandwidth_all_video;
    std::vector<std::string> metadata;  // sent once connected
    bool set_tally = false;
    NDIlib_tally_t tally;
    std::string save_picture;  // file for the next picture's compressed bytes
    std::string snapshot;  // PNG file for the next program picture (preview with --streams preview)
    int seconds = 0;       // 0: until interrupted
    int connect_timeout = 10;
    bool ptz = false;  // act as a PTZ controller on the terminal's keys
    bool help = false;
    bool list = false;   // --list: print the sources seen, then end
    std::string groups;  // the groups --list asks for (empty: "public")
};

// Parses the command line. False (with `error`) when it cannot be used.
bool parse_options(int argc, char** argv, Options& options, std::string& error);

const char* usage_text();

}  // namespace ndi_monitor
