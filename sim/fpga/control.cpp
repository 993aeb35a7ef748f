#include "control.h"

#include <cstdio>
#include <sstream>

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

}  // namespace

void run_command(FpgaModel& model, const std::string& line, std::vector<std::string>& reply,
                 bool& quit)
{
    std::istringstream in(line);
    std::string verb;
    std::string arg;
    std::string extra;
    in >> verb >> arg >> extra;
    model.scan();

    if (verb == "sync" || verb.empty()) {
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
    } else if (verb == "sdi-lock" && (arg == "drop" || arg == "restore") &&
               parse_channel(extra) >= -1) {
        model.set_sdi_lock(parse_channel(extra), arg == "restore");
    } else if (verb == "hpd" && (arg == "plug" || arg == "unplug") && extra.empty()) {
        model.set_hot_plug(arg == "plug");
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
