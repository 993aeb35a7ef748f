#include "audio_commands.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace {

constexpr double kMaxHz = 24000.0;  // below the Nyquist frequency of 48 kHz
constexpr double kMinDbfs = -140.0;
constexpr std::int64_t kMaxUnderrun = 360000;  // one hour of blocks

// The whole word as a finite number within [min, max].
bool parse_number(const std::string& word, double min, double max, double& value)
{
    char* end = nullptr;
    value = std::strtod(word.c_str(), &end);
    return !word.empty() && *end == '\0' && std::isfinite(value) && value >= min && value <= max;
}

std::string format_signal(double hz, double dbfs)
{
    char text[64];
    std::snprintf(text, sizeof text, "tone %g Hz %g dBFS", hz, dbfs);
    return text;
}

}  // namespace

bool AudioSource::next_block(std::uint8_t* block)
{
    if (m_skip > 0) {
        --m_skip;
        ++m_skipped;
        return false;
    }
    if (m_stopped) {
        return false;
    }
    m_signal.fill(block);
    ++m_written;
    return true;
}

const char* AudioSource::help()
{
    return "  tone HZ DBFS   a sine of HZ (0 < HZ < 24000) with its peak at DBFS (-140 to 0) on\n"
           "                 both channels (default: tone 1000 -20)\n"
           "  silence        zero samples\n"
           "  stop           deliver nothing until resume (a read of the device blocks)\n"
           "  resume         deliver again, from the next slot on\n"
           "  underrun N     skip the next N blocks (1 to 360000)\n"
           "  status         the signal, state and block counts\n"
           "  help           this list\n";
}

std::string AudioSource::command(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    if (words.empty()) {
        return "error empty command (try help)";
    }
    const std::string& name = words[0];
    const std::size_t args = words.size() - 1;
    if (name == "tone" && args == 2) {
        double hz = 0.0;
        double dbfs = 0.0;
        if (!parse_number(words[1], 0.0, kMaxHz, hz) || hz <= 0.0 || hz >= kMaxHz ||
            !parse_number(words[2], kMinDbfs, 0.0, dbfs)) {
            return "error tone takes HZ (0 < HZ < 24000) and DBFS (-140 to 0)";
        }
        m_signal.set_tone(hz, dbfs);
        m_signal_text = format_signal(hz, dbfs);
        return "ok " + m_signal_text;
    }
    if (name == "silence" && args == 0) {
        m_signal.set_silence();
        m_signal_text = "silence";
        return "ok silence";
    }
    if (name == "stop" && args == 0) {
        m_stopped = true;
        return "ok stopped";
    }
    if (name == "resume" && args == 0) {
        m_stopped = false;
        return "ok delivering";
    }
    if (name == "underrun" && args == 1) {
        double count = 0.0;
        if (!parse_number(words[1], 1.0, static_cast<double>(kMaxUnderrun), count) ||
            count != std::floor(count)) {
            return "error underrun takes a whole number of blocks, 1 to 360000";
        }
        m_skip += static_cast<std::int64_t>(count);
        return "ok skipping " + std::to_string(m_skip) + " blocks";
    }
    if (name == "status" && args == 0) {
        return "ok " + m_signal_text + (m_stopped ? " stopped" : " delivering") + " written " +
               std::to_string(m_written) + " skipped " + std::to_string(m_skipped) + " dropped " +
               std::to_string(m_dropped);
    }
    if (name == "help" && args == 0) {
        return "ok tone HZ DBFS | silence | stop | resume | underrun N | unplug | replug | overrun "
               "| "
               "status | help";
    }
    return "error unknown command or wrong arguments: '" + line + "' (try help)";
}
