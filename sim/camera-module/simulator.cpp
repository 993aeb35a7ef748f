#include "simulator.h"

#include <cstdio>
#include <sstream>

namespace camsim {

namespace {

constexpr size_t kMaxPacket = 16;
constexpr size_t kHistoryLimit = 10000;

bool parse_number(const std::string& text, long& value)
{
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 0);
    return end != nullptr && *end == '\0';
}

}  // namespace

std::string hex(const Bytes& bytes)
{
    std::string out;
    char digits[4];
    for (const uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", b);
        if (!out.empty()) {
            out += ' ';
        }
        out += digits;
    }
    return out;
}

const char* Simulator::help_text()
{
    return "Control commands (one per line, on standard input or the control socket; each answer\n"
           "ends with a line \"ok\" or \"error: <reason>\"):\n"
           "  help                  this text\n"
           "  state                 the camera's state, one name=value per line; line_busy=1\n"
           "                        while a reply is pending or bytes are on the line\n"
           "  history               packets received since the last clear (the last 10000)\n"
           "  clear                 forget the history\n"
           "  transcript on|off     print every packet in both directions with its time (ms)\n"
           "  silent [N]            answer nothing (the next N packets; no N: until normal)\n"
           "  error [N]             answer 90 60 02 FF (syntax error)\n"
           "  notexec [N]           answer 90 61 41 FF (command not executable)\n"
           "  nocomp [N]            acknowledge commands without completing them\n"
           "  garbage [N]           answer 12 34 56 FF\n"
           "  long [N]              answer a 21-byte reply (longer than 16 bytes)\n"
           "  late MS [N]           answer MS milliseconds late (for example 250)\n"
           "  normal                end every fault\n"
           "  format-delay MS       a video-format change takes effect after MS ms\n"
           "  completion-delay MS   completions follow acknowledgements after MS ms\n"
           "  send HEX...           put bytes on the line now (for example: send 90 51 FF)\n"
           "  set NAME VALUE        change a value as the camera would itself (names as in state)\n"
           "  quit                  end the simulator\n";
}

void Simulator::log(const char* direction, const Bytes& packet, TimePoint at) const
{
    if (!m_transcript) {
        return;
    }
    const double ms = std::chrono::duration<double, std::milli>(at - m_start).count();
    std::printf("%10.3f %s %s\n", ms, direction, hex(packet).c_str());
    std::fflush(stdout);
}

void Simulator::on_readable(TimePoint now)
{
    m_line.receive(now, m_incoming);
}

void Simulator::packet_complete(const Bytes& packet, TimePoint at)
{
    log("rx", packet, at);
    m_history.push_back(hex(packet));
    if (m_history.size() > kHistoryLimit) {
        m_history.pop_front();
    }
    for (Reply& reply : m_model.handle_packet(packet, at)) {
        m_replies.emplace(reply.due, std::move(reply.bytes));
    }
}

void Simulator::tick(TimePoint now)
{
    while (!m_incoming.empty() && m_incoming.front().second <= now) {
        const auto [byte, at] = m_incoming.front();
        m_incoming.pop_front();
        m_packet.push_back(byte);
        if (byte == 0xFF) {
            const Bytes packet = std::move(m_packet);
            m_packet.clear();
            packet_complete(packet, at);
        } else if (m_packet.size() >= kMaxPacket) {
            // Too long for any VISCA packet: dropped, answered with a message-length error.
            log("rx", m_packet, at);
            m_history.push_back(hex(m_packet) + " (too long)");
            m_packet.clear();
            m_replies.emplace(at, Bytes{0x90, 0x60, 0x01, 0xFF});
        }
    }
    m_model.advance(now);
    while (!m_replies.empty() && m_replies.begin()->first <= now) {
        const Bytes bytes = std::move(m_replies.begin()->second);
        const TimePoint due = m_replies.begin()->first;
        m_replies.erase(m_replies.begin());
        const TimePoint sent = m_line.send(bytes, due);
        log("tx", bytes, sent);
    }
    m_line.write_due(now);
}

std::optional<TimePoint> Simulator::next_deadline() const
{
    std::optional<TimePoint> next = m_line.next_write();
    auto consider = [&](std::optional<TimePoint> t) {
        if (t && (!next || *t < *next)) {
            next = t;
        }
    };
    if (!m_incoming.empty()) {
        consider(m_incoming.front().second);
    }
    if (!m_replies.empty()) {
        consider(m_replies.begin()->first);
    }
    consider(m_model.next_event());
    return next;
}

std::string Simulator::control(const std::string& line, TimePoint now, bool& quit)
{
    std::istringstream in(line);
    std::string word;
    std::vector<std::string> args;
    in >> word;
    for (std::string arg; in >> arg;) {
        args.push_back(arg);
    }
    std::string out;
    auto fail = [&](const std::string& why) { return out + "error: " + why + "\n"; };
    long n = 0;
    long count = 0;
    const std::map<std::string, FaultKind> faults = {
        {"silent", FaultKind::silent},   {"error", FaultKind::error},
        {"notexec", FaultKind::notexec}, {"nocomp", FaultKind::nocomp},
        {"garbage", FaultKind::garbage}, {"long", FaultKind::too_long},
    };

    if (word.empty()) {
        return "ok\n";
    }
    if (word == "help") {
        out = help_text();
    } else if (word == "state") {
        out = m_model.state_text(now);
        const bool busy = !m_replies.empty() || !m_incoming.empty() || m_line.next_write();
        out += std::string("line_busy=") + (busy ? "1" : "0") + "\n";
    } else if (word == "history") {
        for (const std::string& h : m_history) {
            out += h + "\n";
        }
    } else if (word == "clear") {
        m_history.clear();
    } else if (word == "transcript" && args.size() == 1 && (args[0] == "on" || args[0] == "off")) {
        m_transcript = args[0] == "on";
    } else if (faults.count(word) != 0) {
        if (args.size() > 1 || (args.size() == 1 && (!parse_number(args[0], count) || count < 1))) {
            return fail("usage: " + word + " [N], N >= 1");
        }
        m_model.set_fault(faults.at(word), static_cast<int>(count));
    } else if (word == "late") {
        if (args.empty() || args.size() > 2 || !parse_number(args[0], n) || n < 0 ||
            (args.size() == 2 && (!parse_number(args[1], count) || count < 1))) {
            return fail("usage: late MS [N]");
        }
        m_model.set_late(std::chrono::milliseconds(n), static_cast<int>(count));
    } else if (word == "normal") {
        m_model.set_fault(FaultKind::none, 0);
        m_model.set_late(std::chrono::milliseconds(0), 0);
    } else if (word == "format-delay" || word == "completion-delay") {
        if (args.size() != 1 || !parse_number(args[0], n) || n < 0) {
            return fail("usage: " + word + " MS");
        }
        if (word == "format-delay") {
            m_model.set_format_delay(std::chrono::milliseconds(n));
        } else {
            m_model.set_completion_delay(std::chrono::milliseconds(n));
        }
    } else if (word == "send") {
        Bytes bytes;
        for (const std::string& arg : args) {
            char* end = nullptr;
            const long b = std::strtol(arg.c_str(), &end, 16);
            if (end == arg.c_str() || *end != '\0' || b < 0 || b > 0xFF) {
                return fail("not a hex byte: " + arg);
            }
            bytes.push_back(static_cast<uint8_t>(b));
        }
        if (bytes.empty()) {
            return fail("usage: send HEX...");
        }
        log("tx", bytes, m_line.send(bytes, now));
    } else if (word == "set") {
        std::string why;
        if (args.size() != 2 || !parse_number(args[1], n)) {
            return fail("usage: set NAME VALUE");
        }
        if (!m_model.set_named(args[0], n, why, now)) {
            return fail(why);
        }
    } else if (word == "quit") {
        quit = true;
    } else {
        return fail("unknown command " + word + " (help lists them)");
    }
    return out + "ok\n";
}

}  // namespace camsim
