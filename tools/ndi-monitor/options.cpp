#include "options.h"

#include <cstdlib>

namespace ndi_monitor {

namespace {

bool parse_count(const std::string& text, int& value)
{
    if (text.empty() || text.size() > 6 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    value = std::atoi(text.c_str());
    return true;
}

}  // namespace

const char* usage_text()
{
    return R"USAGE(Usage: ndi-monitor [options] SOURCE
       ndi-monitor --list [--groups GROUPS] [--seconds N]

Connects to an NDI source and prints its connection metadata, once a second the statistics of
each video stream (resolution, FourCC, frame rate, bytes per picture, pictures lost) and of the
audio, and every metadata frame it sends.

SOURCE is the name of a sender ("CAM", or "HOST (CAM)"), found in this machine's sender registry
($VANTOR_NDI_REGISTRY, default $TMPDIR/vantor-ndi-<uid>) or by mDNS, or an address "host:port".

Options:
  --streams program|preview|both|none
                       video streams to receive (default both); audio and metadata always flow
  --metadata TEXT      send TEXT to the source as a metadata frame once connected, for example
                       '<ntk_ptz_pan_tilt_speed pan_speed="0.5" tilt_speed="0"/>'; may be repeated
  --tally program|preview|both|off
                       set this receiver's tally (the source's tally is the union over receivers)
  --ptz                act as a PTZ controller: arrows pan/tilt, + - zoom, space stop, 0-9
                       recall preset, s+digit store, i status request, q quit; receives
                       metadata only (unless --streams follows); status replies are printed
  --save-picture FILE  write the compressed bytes of the next picture received to FILE
  --snapshot FILE.png  decode the next program picture (the next preview picture with --streams
                       preview) and write it to FILE.png
  --seconds N          stop N seconds after connecting (default: run until Ctrl-C)
  --connect-timeout N  give up when not connected within N seconds (default 10)
  --list               print the sources seen within N seconds (--seconds, default 2) with their
                       addresses and groups, then end
  --groups GROUPS      with --list: only sources in one of these groups (comma-separated;
                       default "public")
  --help               show this text

Exit status: 0 done, 1 bad command line, 2 not connected in time, 3 picture not saved
(--save-picture, --snapshot).
)USAGE";
}

bool parse_options(int argc, char** argv, Options& options, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string text;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--streams") {
            if (!value(text)) {
                return false;
            }
            if (text == "program") {
                options.streams = NDIlib_recv_bandwidth_highest;
            } else if (text == "preview") {
                options.streams = NDIlib_recv_bandwidth_lowest;
            } else if (text == "both") {
                options.streams = NDIlib_recv_bandwidth_all_video;
            } else if (text == "none") {
                options.streams = NDIlib_recv_bandwidth_audio_only;
            } else {
                error = "--streams takes program, preview, both or none, not '" + text + "'";
                return false;
            }
        } else if (arg == "--list") {
            options.list = true;
        } else if (arg == "--groups") {
            if (!value(options.groups)) {
                return false;
            }
        } else if (arg == "--metadata") {
            if (!value(text)) {
                return false;
            }
            options.metadata.push_back(text);
        } else if (arg == "--tally") {
            if (!value(text)) {
                return false;
            }
            options.set_tally = true;
            if (text != "program" && text != "preview" && text != "both" && text != "off") {
                error = "--tally takes program, preview, both or off, not '" + text + "'";
                return false;
            }
            options.tally.on_program = text == "program" || text == "both";
            options.tally.on_preview = text == "preview" || text == "both";
        } else if (arg == "--ptz") {
            options.ptz = true;
            options.streams = NDIlib_recv_bandwidth_metadata_only;
        } else if (arg == "--save-picture") {
            if (!value(options.save_picture)) {
                return false;
            }
        } else if (arg == "--snapshot") {
            if (!value(options.snapshot)) {
                return false;
            }
        } else if (arg == "--seconds" || arg == "--connect-timeout") {
            if (!value(text)) {
                return false;
            }
            int& target = arg == "--seconds" ? options.seconds : options.connect_timeout;
            if (!parse_count(text, target)) {
                error = arg;
                error.append(" takes a number of seconds, not '").append(text).append("'");
                return false;
            }
        } else if (!arg.empty() && arg[0] == '-') {
            error = "unknown option " + arg;
            return false;
        } else if (options.source.empty()) {
            options.source = arg;
        } else {
            error = "more than one SOURCE given";
            return false;
        }
    }
    if (options.list && !options.source.empty()) {
        error = "--list takes no SOURCE";
        return false;
    }
    if (options.source.empty() && !options.help && !options.list) {
        error = "no SOURCE given";
        return false;
    }
    return true;
}

}  // namespace ndi_monitor
