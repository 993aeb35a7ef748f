#pragma once

#include <string>
#include <string_view>

// `text` as a JSON string literal, quotes included; control characters, quotes, backslashes and
// the characters that could close a script element (<, >, &) escaped.
std::string json_string(std::string_view text);
