#include "simulator.h"

#include <cstdio>
#include <sstream>

#include "visca_codes.h"

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

// The delays a control command (and the option of the same name) sets.
struct DelaySetter {
    const char* name;
    void (CameraModel::*set)(Millis delay);
};

constexpr DelaySetter kDelaySetters[] = {
    {"format-delay", &CameraModel::set_format_delay},
    {"completion-delay", &CameraModel::set_completion_delay},
    {"processing-delay", &CameraModel::set_processing_delay},
};

const DelaySetter* delay_setter(const std::string& name)
{
    for (const DelaySetter& setter : kDelaySetters) {
        if (name == setter.name) {
            return &setter;
        }
    }
    return nullptr;
}

}  // namespace

bool is_delay_name(const std::string& name)
{
    return delay_setter(name) != nullptr;
}

bool set_delay(CameraModel& model, const std::string& name, const std::string& ms)
{
    const DelaySetter* setter = delay_setter(name);
    long n = 0;
    if (setter == nullptr || !parse_number(ms, n) || n < 0) {
        return false;
    }
    (model.*setter->set)(Millis(n));
    return true;
}

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
           "  state                 the camera's state, one name=value per line, with\n"
           "                        line_busy=1 while a reply (a completion too) is pending or\n"
           "                        bytes are on the line, socket1/socket2=idle|busy,\n"
           "                        processing_delay_ms, strict=0|1, noise=0|1 and line=ok or\n"
           "                        why the line is not set 9600 8N1 raw (at the last packet)\n"
           "  history               packets received since the last clear (the last 10000);\n"
           "                        \"(ignored: <reason>)\" after one the mis-set line dropped\n"
           "  clear                 forget the history\n"
           "  transcript on|off     print every packet in both directions with its time (ms)\n"
           "  silent [N]            answer nothing (the next N packets; no N: until normal)\n"
           "  error [N]             answer 90 60 02 FF (syntax error)\n"
           "  notexec [N]           answer not executable: 90 6y 41 FF to a command (y the\n"
           "                        socket it would take), 90 60 41 FF to an inquiry\n"
           "  nocomp [N]            acknowledge commands without completing them (the socket\n"
           "                        is free again at once)\n"
           "  garbage [N]           answer 12 34 56 FF\n"
           "  long [N]              answer a 21-byte reply (longer than 16 bytes)\n"
           "  late MS [N]           answer MS milliseconds late (for example 250)\n"
           "  normal                end every fault\n"
           "  unplug                take the module off the line: bytes sent to it are lost,\n"
           "                        nothing is answered, pending replies are dropped\n"
           "  plug                  put it back: it starts as just switched on (initial state)\n"
           "  format-delay MS       a video-format change takes effect after MS ms\n"
           "  completion-delay MS   a completion is ready MS ms after its acknowledgement (and\n"
           "                        the processing delay; a move completes when it ends)\n"
           "  processing-delay MS   every reply is ready MS ms after what causes it\n"
           "  noise on|off          keep the line busy with 00 bytes, one each byte time,\n"
           "                        whenever no reply goes out (a floating line)\n"
           "  send HEX...           put bytes on the line now (for example: send 90 51 FF)\n"
           "  set NAME VALUE        change a value as the camera would itself (names as in\n"
           "                        state); set pan/tilt/zoom/focus ends a move of that axis\n"
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

void Simulator::record(const std::string& entry)
{
    m_history.push_back(entry);
    if (m_history.size() > kHistoryLimit) {
        m_history.pop_front();
    }
}

bool Simulator::line_usable(const Bytes& packet, const char* what)
{
    const std::string fault = m_line.settings_fault();
    if (fault != m_line_fault) {
        m_line_fault = fault;
        if (fault.empty()) {
            std::printf("camera-sim: line set 9600 8N1 raw: packets are answered\n");
        } else {
            std::printf("camera-sim: line not 9600 8N1 raw (%s): packets are ignored\n",
                        fault.c_str());
        }
        std::fflush(stdout);
    }
    if (fault.empty()) {
        return true;
    }
    record(hex(packet) + " (" + what + "ignored: " + fault + ")");
    return false;
}

void Simulator::queue(std::vector<Reply> replies)
{
    for (Reply& reply : replies) {
        m_replies.emplace(reply.due, std::move(reply.bytes));
    }
}

void Simulator::packet_complete(const Bytes& packet, TimePoint at)
{
    log("rx", packet, at);
    if (!line_usable(packet, "")) {
        return;
    }
    record(hex(packet));
    queue(m_model.handle_packet(packet, at));
}

void Simulator::packet_too_long(TimePoint at)
{
    // Too long for any VISCA packet: dropped, answered with a message-length error.
    log("rx", m_packet, at);
    if (line_usable(m_packet, "too long, ")) {
        record(hex(m_packet) + " (too long)");
        m_replies.emplace(at + m_model.processing_delay(),
                          visca::error_reply(0, visca::kMessageLength));
    }
    m_packet.clear();
}

void Simulator::tick(TimePoint now)
{
    if (m_unplugged) {
        m_incoming.clear();
        m_line.write_due(now);
        return;
    }
    while (!m_incoming.empty() && m_incoming.front().second <= now) {
        const auto [byte, at] = m_incoming.front();
        m_incoming.pop_front();
        m_packet.push_back(byte);
        if (byte == visca::kTerminator) {
            const Bytes packet = std::move(m_packet);
            m_packet.clear();
            packet_complete(packet, at);
        } else if (m_packet.size() >= kMaxPacket) {
            packet_too_long(at);
        }
    }
    queue(m_model.advance(now));
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

std::string Simulator::state_text(TimePoint now) const
{
    const bool busy = !m_replies.empty() || !m_incoming.empty() || m_line.busy() ||
                      m_model.socket_busy(1) || m_model.socket_busy(2);
    return m_model.state_text(now) + "line_busy=" + (busy ? "1" : "0") +
           "\nstrict=" + (m_line.strict() ? "1" : "0") + "\nnoise=" + (m_line.noise() ? "1" : "0") +
           "\nline=" + (m_line_fault.empty() ? "ok" : m_line_fault) +
           "\nplugged=" + (m_unplugged ? "0" : "1") + "\n";
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
        out = state_text(now);
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
    } else if ((word == "unplug" || word == "plug") && args.empty()) {
        if (word == "plug" && m_unplugged) {
            m_model.power_up();
        }
        m_unplugged = word == "unplug";
        m_replies.clear();
        m_packet.clear();
        m_incoming.clear();
    } else if (word == "noise") {
        if (args.size() != 1 || (args[0] != "on" && args[0] != "off")) {
            return fail("usage: noise on|off");
        }
        m_line.set_noise(args[0] == "on", now);
    } else if (is_delay_name(word)) {
        if (args.size() != 1 || !set_delay(m_model, word, args[0])) {
            return fail("usage: " + word + " MS");
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
