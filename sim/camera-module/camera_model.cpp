#include "camera_model.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "visca_codes.h"

namespace camsim {

namespace {

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

const char* fault_name(FaultKind kind)
{
    switch (kind) {
    case FaultKind::silent:
        return "silent";
    case FaultKind::error:
        return "error";
    case FaultKind::notexec:
        return "notexec";
    case FaultKind::nocomp:
        return "nocomp";
    case FaultKind::garbage:
        return "garbage";
    case FaultKind::too_long:
        return "long";
    case FaultKind::none:
        break;
    }
    return "none";
}

Bytes too_long_reply()
{
    Bytes reply{visca::kReplyAddress, visca::kReplyKind};
    reply.insert(reply.end(), 18, 0x01);
    reply.push_back(visca::kTerminator);
    return reply;
}

}  // namespace

// --- Axis ---

double Axis::at(TimePoint t) const
{
    double p = m_pos + m_velocity * seconds(t - m_since);
    if (m_target) {
        p = m_velocity > 0 ? std::min(p, *m_target) : std::max(p, *m_target);
    }
    return std::clamp(p, m_low, m_high);
}

void Axis::rebase(TimePoint t)
{
    m_pos = at(t);
    m_since = t;
}

void Axis::drive(TimePoint t, double velocity)
{
    rebase(t);
    m_velocity = velocity;
    m_target.reset();
}

TimePoint Axis::move_to(TimePoint t, double target, double speed)
{
    rebase(t);
    target = std::clamp(target, m_low, m_high);
    if (target == m_pos || speed <= 0) {
        m_velocity = 0;
        m_target.reset();
        return t;
    }
    m_velocity = target > m_pos ? speed : -speed;
    m_target = target;
    return t + std::chrono::duration_cast<Clock::duration>(
                   std::chrono::duration<double>(std::fabs(target - m_pos) / speed));
}

void Axis::set(TimePoint t, double position)
{
    m_pos = std::clamp(position, m_low, m_high);
    m_since = t;
    m_velocity = 0;
    m_target.reset();
}

bool Axis::moving(TimePoint t) const
{
    const double p = at(t);
    if (m_velocity == 0) {
        return false;
    }
    if (m_target) {
        return p != *m_target;
    }
    return m_velocity > 0 ? p < m_high : p > m_low;
}

// --- CameraModel: faults, sockets, dispatch ---

CameraModel::CameraModel() : m_settings(camera_settings()) {}

void CameraModel::power_up()
{
    CameraModel fresh;
    fresh.m_format_delay = m_format_delay;
    fresh.m_completion_delay = m_completion_delay;
    fresh.m_processing_delay = m_processing_delay;
    fresh.m_model_code = m_model_code;
    *this = std::move(fresh);
}

FaultKind CameraModel::take_fault()
{
    const FaultKind kind = m_fault;
    if (m_fault != FaultKind::none && m_fault_remaining > 0 && --m_fault_remaining == 0) {
        m_fault = FaultKind::none;
    }
    return kind;
}

Millis CameraModel::take_late()
{
    const Millis late = m_late;
    if (m_late.count() > 0 && m_late_remaining > 0 && --m_late_remaining == 0) {
        m_late = Millis(0);
    }
    return late;
}

bool CameraModel::socket_busy(int socket) const
{
    return socket >= 1 && socket <= kSockets && m_jobs[static_cast<size_t>(socket - 1)].busy;
}

std::optional<int> CameraModel::free_socket() const
{
    for (int socket = 1; socket <= kSockets; ++socket) {
        if (!socket_busy(socket)) {
            return socket;
        }
    }
    return std::nullopt;
}

bool CameraModel::standby() const
{
    return value_of("Power") == visca::kPowerStandby;
}

void CameraModel::take_over(uint8_t axes, TimePoint now)
{
    for (Job& job : m_jobs) {
        if (job.busy && (job.axes & axes) != 0) {
            // Its motion ends here: the completion goes out now, not at the planned arrival.
            job.done = std::max(job.ack_due, std::min(job.done, now + m_processing_delay));
            job.axes = 0;
        }
    }
}

void CameraModel::stop_axes(uint8_t axes, TimePoint now)
{
    for (const NamedAxis& named : named_axes()) {
        if ((axes & named.bit) != 0) {
            named.axis->stop(now);
        }
    }
}

void CameraModel::clear_sockets(TimePoint now)
{
    for (Job& job : m_jobs) {
        if (job.busy) {
            stop_axes(job.axes, now);
        }
        job = Job{};
    }
}

std::vector<Reply> CameraModel::handle_packet(const Bytes& packet, TimePoint now)
{
    std::vector<Reply> out = advance(now);
    if (packet.size() < 3 || packet.back() != visca::kTerminator) {
        return out;
    }
    if (packet == visca::broadcast_if_clear()) {
        clear_sockets(now);
        out.push_back({packet, now + m_processing_delay});
    } else if (packet == visca::broadcast_address_set()) {
        out.push_back({visca::address_set_reply(), now + m_processing_delay});
    } else if (packet[0] == visca::kCameraAddress) {
        answer(packet, now, out);
    }
    // Other broadcasts and packets for other devices on the chain: nothing.
    return out;
}

std::vector<Reply> CameraModel::advance(TimePoint now)
{
    if (m_pending_format && m_pending_format->second <= now) {
        m_format = m_pending_format->first;
        m_pending_format.reset();
    }
    std::vector<Reply> out;
    for (;;) {
        Job* first = nullptr;
        int socket = 0;
        for (int s = 1; s <= kSockets; ++s) {
            Job& job = m_jobs[static_cast<size_t>(s - 1)];
            if (job.busy && job.done <= now && (first == nullptr || job.done < first->done)) {
                first = &job;
                socket = s;
            }
        }
        if (first == nullptr) {
            return out;
        }
        out.push_back({visca::socket_reply(visca::kCompletion, socket), first->done});
        *first = Job{};
    }
}

std::optional<TimePoint> CameraModel::next_event() const
{
    std::optional<TimePoint> next;
    auto consider = [&](TimePoint t) {
        if (!next || t < *next) {
            next = t;
        }
    };
    if (m_pending_format) {
        consider(m_pending_format->second);
    }
    for (const Job& job : m_jobs) {
        if (job.busy) {
            consider(job.done);
        }
    }
    return next;
}

void CameraModel::answer(const Bytes& packet, TimePoint now, std::vector<Reply>& out)
{
    const FaultKind fault = take_fault();
    const TimePoint at = now + take_late() + m_processing_delay;
    if (fault != FaultKind::none && fault != FaultKind::nocomp) {
        answer_fault(fault, packet, at, out);
        return;
    }
    const uint8_t kind = packet[1];
    if (kind == visca::kInquiry) {
        const std::optional<Bytes> reply = inquiry(packet, now);
        out.push_back({reply ? *reply : visca::error_reply(0, visca::kSyntaxError), at});
    } else if (packet == visca::if_clear()) {
        clear_sockets(now);
        out.push_back({visca::if_clear_reply(), at});
    } else if (kind == visca::kCommand) {
        answer_command(packet, now, at, fault != FaultKind::nocomp, out);
    } else if (packet.size() == 3 && (kind & 0xF0U) == visca::kCancel) {
        answer_cancel(static_cast<int>(kind & 0x0FU), now, at, out);
    } else {
        out.push_back({visca::error_reply(0, visca::kSyntaxError), at});
    }
}

void CameraModel::answer_fault(FaultKind fault, const Bytes& packet, TimePoint at,
                               std::vector<Reply>& out)
{
    switch (fault) {
    case FaultKind::error:
        out.push_back({visca::error_reply(0, visca::kSyntaxError), at});
        break;
    case FaultKind::notexec: {
        // On a command: the socket it would have taken (none free: the buffer is full).
        const std::optional<int> socket = free_socket();
        if (packet[1] != visca::kCommand) {
            out.push_back({visca::error_reply(0, visca::kNotExecutable), at});
        } else if (socket) {
            out.push_back({visca::error_reply(*socket, visca::kNotExecutable), at});
        } else {
            out.push_back({visca::error_reply(0, visca::kBufferFull), at});
        }
        break;
    }
    case FaultKind::garbage:
        out.push_back({{0x12, 0x34, 0x56, visca::kTerminator}, at});
        break;
    case FaultKind::too_long:
        out.push_back({too_long_reply(), at});
        break;
    case FaultKind::silent:
    case FaultKind::nocomp:
    case FaultKind::none:
        break;
    }
}

void CameraModel::answer_command(const Bytes& packet, TimePoint now, TimePoint at, bool complete,
                                 std::vector<Reply>& out)
{
    const CommandRow* row = nullptr;
    Setting* setting = nullptr;
    if (!command_valid(packet, row, setting)) {
        out.push_back({visca::error_reply(0, visca::kSyntaxError), at});
        return;
    }
    const std::optional<int> socket = free_socket();
    if (!socket) {
        out.push_back({visca::error_reply(0, visca::kBufferFull), at});
        return;
    }
    if (standby() && packet != visca::power_on()) {
        out.push_back({visca::error_reply(*socket, visca::kNotExecutable), at});
        return;
    }
    Motion motion{0, now};
    if (row != nullptr) {
        take_over(row->takes, now);
        motion = (this->*row->run)(packet, now);
    } else {
        write_setting(*setting, packet);
    }
    out.push_back({visca::socket_reply(visca::kAck, *socket), at});
    if (complete) {
        Job& job = m_jobs[static_cast<size_t>(*socket - 1)];
        job.busy = true;
        job.axes = motion.axes;
        job.ack_due = at;
        job.done = std::max(at + m_completion_delay, motion.arrival) + m_processing_delay;
    }
}

void CameraModel::answer_cancel(int socket, TimePoint now, TimePoint at, std::vector<Reply>& out)
{
    if (socket < 1 || socket > kSockets) {
        out.push_back({visca::error_reply(0, visca::kSyntaxError), at});
        return;
    }
    Job& job = m_jobs[static_cast<size_t>(socket - 1)];
    if (!job.busy) {
        out.push_back({visca::error_reply(socket, visca::kNoSocket), at});
        return;
    }
    stop_axes(job.axes, now);
    out.push_back({visca::error_reply(socket, visca::kCancelled), std::max(at, job.ack_due)});
    job = Job{};
}

std::array<CameraModel::NamedAxis, 4> CameraModel::named_axes()
{
    return {{{"pan", axis_bit::pan, &m_pan},
             {"tilt", axis_bit::tilt, &m_tilt},
             {"zoom", axis_bit::zoom, &m_zoom},
             {"focus", axis_bit::focus, &m_focus}}};
}

bool CameraModel::set_named(const std::string& name, long value, std::string& message,
                            TimePoint now)
{
    for (const NamedAxis& named : named_axes()) {
        if (name == named.name) {
            take_over(named.bit, now);
            named.axis->set(now, static_cast<double>(value));
            return true;
        }
    }
    if (Setting* s = setting_named(name)) {
        s->value = static_cast<uint32_t>(value);
    } else if (name == "format") {
        m_format = static_cast<uint8_t>(value);
        m_pending_format.reset();
    } else if (name == "menu") {
        m_menu = value != 0;
    } else if (name == "tally_lamp") {
        m_tally_lamp = static_cast<uint8_t>(value);
    } else if (name == "model_code") {
        m_model_code = static_cast<uint16_t>(value);
    } else {
        message = "unknown value " + name;
        return false;
    }
    return true;
}

std::string CameraModel::state_text(TimePoint now) const
{
    std::ostringstream out;
    for (const Setting& s : m_settings) {
        out << s.name << '=' << s.value << '\n';
    }
    out << "pan=" << std::lround(m_pan.at(now)) << "\ntilt=" << std::lround(m_tilt.at(now))
        << "\nzoom=" << std::lround(m_zoom.at(now)) << "\nfocus=" << std::lround(m_focus.at(now))
        << "\nmoving=" << (m_pan.moving(now) || m_tilt.moving(now) || m_zoom.moving(now) ? 1 : 0)
        << "\nformat=" << static_cast<int>(m_format) << "\npending_format="
        << (m_pending_format ? static_cast<int>(m_pending_format->first) : -1)
        << "\nmenu=" << (m_menu ? 1 : 0) << "\ntally_mode=" << static_cast<int>(m_tally_mode)
        << "\ntally_lamp=" << static_cast<int>(m_tally_lamp) << "\npresets=" << m_presets.size()
        << "\nwb_one_push=" << m_wb_one_push_triggers << "\naf_one_push=" << m_af_one_push_triggers
        << "\nmodel_code=" << m_model_code << "\nfault=" << fault_name(m_fault)
        << "\nlate_ms=" << m_late.count() << "\nprocessing_delay_ms=" << m_processing_delay.count()
        << '\n';
    for (int socket = 1; socket <= kSockets; ++socket) {
        out << "socket" << socket << '=' << (socket_busy(socket) ? "busy" : "idle") << '\n';
    }
    return out.str();
}

}  // namespace camsim
