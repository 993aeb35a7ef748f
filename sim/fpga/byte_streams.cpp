#include "byte_streams.h"

#include <cerrno>
#include <iconv.h>
#include <sstream>

namespace {

// iconv_open's failure value.
// NOLINTNEXTLINE(performance-no-int-to-ptr)
void* const kNoConversion = reinterpret_cast<iconv_t>(-1);

constexpr uint8_t kHead = 0xA5;
constexpr uint8_t kStandard = 0x15;
constexpr uint8_t kPosition = 0x50;

// Bytes of the UTF-8 sequence that starts with `lead`; 0 for a byte that cannot start one.
size_t utf8_length(uint8_t lead)
{
    if (lead < 0x80) {
        return 1;
    }
    if ((lead & 0xE0U) == 0xC0) {
        return 2;
    }
    if ((lead & 0xF0U) == 0xE0) {
        return 3;
    }
    if ((lead & 0xF8U) == 0xF0) {
        return 4;
    }
    return 0;
}

}  // namespace

bool parse_hex_bytes(const std::string& words, std::vector<uint8_t>& bytes, std::string& error)
{
    std::istringstream in(words);
    std::string word;
    while (in >> word) {
        size_t used = 0;
        unsigned long value = 0;
        if (word.size() <= 2) {
            value = std::stoul("0" + word, &used, 16);  // "0" prefix: stoul never sees nothing
        }
        if (word.size() > 2 || used != word.size() + 1 || value > 0xFF) {
            error = "not a hexadecimal byte: " + word;
            return false;
        }
        bytes.push_back(static_cast<uint8_t>(value));
    }
    return true;
}

std::vector<uint8_t> standard_frames(uint8_t hdmi, uint8_t sdi)
{
    return {kHead, kStandard, 1, hdmi, kHead, kStandard, 2, sdi};
}

bool text_frames(uint8_t x, uint8_t y, const std::string& utf8, std::vector<uint8_t>& bytes,
                 std::string& error)
{
    iconv_t cd = iconv_open("GB2312", "UTF-8");
    if (cd == kNoConversion) {
        error = "iconv has no GB2312";
        return false;
    }
    bool ok = true;
    for (size_t i = 0; i < utf8.size() && ok;) {
        const auto lead = static_cast<uint8_t>(utf8[i]);
        const size_t length = utf8_length(lead);
        if (length == 1) {
            bytes.insert(bytes.end(), {kHead, kPosition, x, y, 0, lead});
            ++x;
            ++i;
            continue;
        }
        std::string in = length == 0 ? std::string() : utf8.substr(i, length);
        char out[4] = {};
        char* in_p = in.data();
        char* out_p = out;
        size_t in_left = in.size();
        size_t out_left = sizeof out;
        if (in.size() != length || length == 0 ||
            iconv(cd, &in_p, &in_left, &out_p, &out_left) == static_cast<size_t>(-1) ||
            sizeof out - out_left != 2) {
            error = "no GB2312 code for the character at byte " + std::to_string(i);
            ok = false;
            break;
        }
        bytes.insert(bytes.end(), {kHead, kPosition, x, y, static_cast<uint8_t>(out[0]),
                                   static_cast<uint8_t>(out[1])});
        x = static_cast<uint8_t>(x + 2);
        i += length;
    }
    iconv_close(cd);
    return ok;
}
