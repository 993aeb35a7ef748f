#pragma once

// The sender's JSON configuration text. This runtime always speaks TCP, so of the text it keeps
// only what it can use; everything else is accepted and ignored.

#include <string>

namespace vantor::ndi {

struct SenderConfig {
    bool valid = true;        // false: the text is not JSON; the defaults apply
    std::string error;        // why it is not, with the offset
    std::string vendor_name;  // "ndi" -> "vendor" -> "name", told to receivers
    std::string vendor_id;    // "ndi" -> "vendor" -> "id"
};

// Parses the text (null or empty gives the defaults). Never fails: a malformed text gives
// `valid` false and the defaults.
SenderConfig parse_sender_config(const char* text);

}  // namespace vantor::ndi
