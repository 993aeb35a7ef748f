#pragma once

#include <string>
#include <utility>
#include <vector>

// Reads and writes the settings files for the page. A write changes only keys the page owns,
// checks every value first (nothing is written when one is refused), keeps every other byte of
// each file and replaces it atomically with the firmware's own helper. One lock serialises all
// writes of this program, so two browsers saving at once never interleave their read-modify-write.

struct settings_write_result {
    bool ok = false;
    std::string message;  // the reason shown on the page when not ok
};

using setting_pairs = std::vector<std::pair<std::string, std::string>>;  // "file|key" -> value

// The current values of every control of `page` as JSON: {"values":{"<file>|<key>":"text",...}};
// a missing file or key reads as "NULL", as the firmware sees it.
std::string page_values_json(const std::string& page);

// Writes `values` (keys "<file>|<key>") for `page`.
settings_write_result write_page_values(const std::string& page, const setting_pairs& values);
