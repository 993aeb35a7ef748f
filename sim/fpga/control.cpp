#include "control.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "byte_streams.h"
#include "osd_png.h"

namespace {

std::string hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

// "all" or nothing -> -1; "0" to "2" -> the channel; anything else -> -2.
int parse_channel(const std::string& word)
{
    if (word.empty() || word == "all") {
        return -1;
    }
    if (word.size() == 1 && word[0] >= '0' && word[0] <= '2') {
        return word[0] - '0';
    }
    return -2;
}

// A decimal number from 0 to `max`.
bool parse_number(const std::string& word, uint32_t max, uint32_t& value)
{
    if (word.empty() || word.size() > 3 ||
        word.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    value = static_cast<uint32_t>(std::stoul(word));
    return value <= max;
}

// Two hexadecimal digits ("3B"), an I2C bus address.
bool parse_hex_byte(const std::string& word, uint32_t& value)
{
    if (word.size() != 2 || word.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return false;
    }
    value = static_cast<uint32_t>(std::stoul(word, nullptr, 16));
    return true;
}

// The rest of `line` after `words` blank-separated words, leading blanks dropped.
std::string rest_after(const std::string& line, int words)
{
    size_t at = 0;
    for (int w = 0; w < words; ++w) {
        at = line.find_first_not_of(' ', at);
        at = at == std::string::npos ? at : line.find(' ', at);
        if (at == std::string::npos) {
            return {};
        }
    }
    at = line.find_first_not_of(' ', at);
    return at == std::string::npos ? std::string() : line.substr(at);
}

// The byte-stream commands: a stream queued on the command channel, or an error text.
bool stream_command(const std::string& verb, const std::string& line, std::vector<uint8_t>& bytes,
                    std::string& error)
{
    std::istringstream in(line);
    std::string skip;
    std::string a;
    std::string b;
    in >> skip >> a >> b;
    uint32_t x = 0;
    uint32_t y = 0;
    if (verb == "feed") {
        return parse_hex_bytes(rest_after(line, 1), bytes, error);
    }
    if (verb == "feed-file") {
        std::ifstream file(a, std::ios::binary);
        if (!file) {
            error = "cannot read " + a;
            return false;
        }
        bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        return true;
    }
    if (verb == "std" && parse_number(a, 255, x) && parse_number(b, 255, y)) {
        bytes = standard_frames(static_cast<uint8_t>(x), static_cast<uint8_t>(y));
        return true;
    }
    if (verb == "audio" && (a == "on" || a == "off") && b.empty()) {
        bytes = {0xA5, 0x17, static_cast<uint8_t>(a == "on" ? 2 : 0)};
        return true;
    }
    if (verb == "color" && (a == "rgb" || a == "yuv") && b.empty()) {
        bytes = {0xA5, 0x1A, static_cast<uint8_t>(a == "rgb" ? 2 : 3)};
        return true;
    }
    if (verb == "mac" && a.size() == 12 && b.empty()) {
        bytes = {0xA5, 0x32};
        bytes.insert(bytes.end(), a.begin(), a.end());
        return true;
    }
    if (verb == "text" && parse_number(a, 255, x) && parse_number(b, 255, y)) {
        return text_frames(static_cast<uint8_t>(x), static_cast<uint8_t>(y), rest_after(line, 3),
                           bytes, error);
    }
    if (verb == "clear" && a.empty()) {
        bytes = {0xA5, 0xAF};
        return true;
    }
    error = "unknown command: " + line;
    return false;
}

bool is_stream_verb(const std::string& verb)
{
    for (const char* v : {"feed", "feed-file", "std", "audio", "color", "mac", "text", "clear"}) {
        if (verb == v) {
            return true;
        }
    }
    return false;
}

}  // namespace

void run_command(FpgaBoard& board, const std::string& line, std::vector<std::string>& reply,
                 bool& quit)
{
    FpgaModel& model = board.model;
    std::istringstream in(line);
    std::string verb;
    std::string arg;
    std::string extra;
    in >> verb >> arg >> extra;
    model.scan();
    uint32_t number = 0;

    if (is_stream_verb(verb)) {
        std::vector<uint8_t> bytes;
        std::string error;
        if (!stream_command(verb, line, bytes, error)) {
            reply.push_back("err " + error);
            return;
        }
        board.channel.queue(bytes);
    } else if (verb == "help" && arg.empty()) {
        reply.emplace_back("sync dump log events channel | sdi-lock drop|restore [0|1|2] | hpd "
                           "plug|unplug | i2c mute|answer ADDRESS | input-lock drop|restore | "
                           "genlock CODE | std HDMI SDI | "
                           "audio on|off | color rgb|yuv | mac TWELVECHARS | clear | text X Y "
                           "STRING | feed HEX... | feed-file PATH | osd-png PATH | quit");
    } else if (verb == "sync" || verb.empty()) {
        // The scan above is the whole point (a blank line is a cheap way to wait for the model).
    } else if (verb == "dump") {
        for (uint32_t r = 0; r < REG_MAX; ++r) {
            const auto reg = static_cast<InterConnectRegList>(r);
            reply.push_back(std::string(InterConnectRegName(reg)) + " " + hex(model.read(reg)));
        }
    } else if (verb == "log") {
        for (const ObservedWrite& w : model.take_log()) {
            reply.push_back(std::string(InterConnectRegName(w.reg)) + " " + hex(w.value));
        }
    } else if (verb == "events" && arg.empty()) {
        for (const std::string& e : model.take_events()) {
            reply.push_back(e);
        }
    } else if (verb == "channel" && arg.empty()) {
        reply.push_back(board.channel.status());
    } else if (verb == "genlock" && parse_number(arg, 255, number) && extra.empty()) {
        board.bus.set_reference(static_cast<uint8_t>(number));
    } else if (verb == "osd-png" && !arg.empty() && extra.empty()) {
        std::string error;
        if (!write_osd_png(model, arg, error)) {
            reply.push_back("err " + error);
            return;
        }
    } else if (verb == "sdi-lock" && (arg == "drop" || arg == "restore") &&
               parse_channel(extra) >= -1) {
        model.set_sdi_lock(parse_channel(extra), arg == "restore");
    } else if (verb == "hpd" && (arg == "plug" || arg == "unplug") && extra.empty()) {
        model.set_hot_plug(arg == "plug");
        board.bus.set_display(arg == "plug");
    } else if (verb == "i2c" && (arg == "mute" || arg == "answer") &&
               parse_hex_byte(extra, number)) {
        if (!board.bus.set_answering(static_cast<uint8_t>(number), arg == "answer")) {
            reply.push_back("err no chip at address " + extra);
            return;
        }
    } else if (verb == "input-lock" && (arg == "drop" || arg == "restore") && extra.empty()) {
        model.set_input_lock(arg == "restore");
    } else if (verb == "quit") {
        quit = true;
    } else {
        reply.push_back("err unknown command: " + line);
        return;
    }
    reply.emplace_back("ok");
}
