#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <vector>

namespace visca_ip {

// What the named requests are, so that their replies can be decoded.
enum class Named : uint8_t { None, PanTiltPosition, ZoomPosition, Block };

struct Options {
    sockaddr_in camera = {};
    std::vector<uint8_t> message;  // one VISCA message, 81 ... FF
    Named named = Named::None;
    bool device_setting = false;  // send as payload type 0x0120
    bool reset = true;            // send the control reset first
    int repeat = 0;               // 0: once, with every reply printed
    uint32_t first_sequence = 1;  // sequence number of the first request
    int timeout_ms = 1000;        // how long a request waits for its last reply
    bool help = false;
};

// Parses the command line. False (with a one-line `error`) when it cannot be used.
bool parse_options(int argc, char** argv, Options& options, std::string& error);

const char* usage_text();

}  // namespace visca_ip
