#include "json_text.h"

#include <cstdio>

std::string json_string(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            if (byte < 0x20 || c == '<' || c == '>' || c == '&' || byte == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(byte));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}
