#include "EncoderModel.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "FormatRates.h"
#include "NdiTransmitter/vantor_speedhq_ioctl.h"

namespace {

using speedhq_protocol::kRead;
using speedhq_protocol::Request;

constexpr std::size_t kMaxRequestsKept = 100000;

// The buffer index of frame `number`: 1 to 5 in turn; "frame 0" (before the first) is buffer 5.
std::int32_t buffer_index(std::uint64_t number)
{
    return number == 0 ? 5 : static_cast<std::int32_t>((number - 1) % 5 + 1);
}

bool parse_int(const std::string& text, long min, long max, long& value)
{
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < min || parsed > max) {
        return false;
    }
    value = parsed;
    return true;
}

bool parse_rate(const std::string& text, double& rate)
{
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(parsed) || parsed < 0.0 || parsed > 100000.0) {
        return false;
    }
    rate = parsed;
    return true;
}

EncoderModel::Reply failure(int error)
{
    EncoderModel::Reply reply;
    reply.result = -1;
    reply.error = error;
    return reply;
}

}  // namespace

EncoderModel::EncoderModel(const Options& options)
    : m_options(options), m_loops(options.loop_length), m_rate_override(options.rate)
{
}

bool EncoderModel::is_frame_wait(const Request& request)
{
    return request.kind == speedhq_protocol::kControl &&
           request.code == VANTOR_SPEEDHQ_IOCTL_RD_SEL && request.has_argument &&
           request.argument == VANTOR_SPEEDHQ_RD_SEL_WAIT_FRAME;
}

void EncoderModel::record(const std::string& entry)
{
    if (m_requests.size() >= kMaxRequestsKept) {
        m_requests.erase(m_requests.begin(), m_requests.begin() + kMaxRequestsKept / 2);
    }
    m_requests.push_back(entry);
    if (m_options.log != nullptr) {
        std::fprintf(m_options.log, "%s\n", entry.c_str());
        std::fflush(m_options.log);
    }
}

void EncoderModel::log_frame_wait()
{
    record(std::to_string(VANTOR_SPEEDHQ_IOCTL_RD_SEL) + "=" +
           std::to_string(VANTOR_SPEEDHQ_RD_SEL_WAIT_FRAME));
}

EncoderModel::Reply EncoderModel::handle(const Request& request, Clock::time_point now)
{
    if (request.kind == kRead) {
        record("read:" + std::to_string(request.code));
        if (request.code > speedhq_protocol::kMaxReadCount) {
            return failure(EINVAL);
        }
        Reply reply;
        switch (m_selection) {
        case Selection::Status:
            if (request.code != VANTOR_SPEEDHQ_STATUS_WORDS) {
                return failure(EINVAL);
            }
            m_selection = Selection::None;
            if (m_index < 0) {
                return failure(EIO);  // an injected negative index: the read fails
            }
            reply.result = m_index;
            reply.payload = m_status.data();
            reply.payload_size = static_cast<std::uint32_t>(m_status.size());
            return reply;
        case Selection::Program:
        case Selection::Preview: {
            const PictureBytes* picture = m_selection == Selection::Program ? m_program : m_preview;
            if (picture == nullptr) {
                return failure(EINVAL);
            }
            const auto count =
                static_cast<std::uint32_t>(std::min<std::size_t>(request.code, picture->size()));
            reply.result = static_cast<std::int32_t>(count);
            reply.payload = picture->data();
            reply.payload_size = count;
            return reply;
        }
        case Selection::None:
            break;
        }
        return failure(EINVAL);
    }

    const std::uint32_t code = request.code;
    record(request.has_argument ? std::to_string(code) + "=" + std::to_string(request.argument)
                                : std::to_string(code));
    if (code == VANTOR_SPEEDHQ_IOCTL_START) {
        m_started = true;
        m_active_mode = m_mode;
        m_active_chroma420 = m_chroma420;
        m_format_rate =
            format_picture_rate(read_video_format(m_options.settings_path), m_active_mode);
        restart_clock(now);
        return Reply{};
    }
    if (code == VANTOR_SPEEDHQ_IOCTL_STOP) {
        m_started = false;
        return Reply{};
    }
    if (code >= m_registers.size() || code == 2) {
        return failure(ENOTTY);
    }
    if (!request.has_argument) {
        return failure(EFAULT);  // every other request takes a pointer to its argument
    }
    Reply reply;
    reply.has_argument = true;
    reply.argument = request.argument;
    const std::int32_t value = request.argument;
    switch (code) {
    case VANTOR_SPEEDHQ_IOCTL_CS_SEL:
        m_chroma420 = value == 1;
        break;
    case VANTOR_SPEEDHQ_IOCTL_MODE_SEL: {
        ModeSize size{};
        if (!mode_size(value, size)) {
            return failure(EINVAL);
        }
        m_mode = value;
        break;
    }
    case VANTOR_SPEEDHQ_IOCTL_GET_FIELD:
        reply.argument = m_field;
        return reply;
    case VANTOR_SPEEDHQ_IOCTL_RD_SEL:
        if (value == VANTOR_SPEEDHQ_RD_SEL_PROGRAM) {
            m_selection = Selection::Program;
        } else if (value == VANTOR_SPEEDHQ_RD_SEL_PREVIEW) {
            m_selection = Selection::Preview;
        } else {
            return failure(EINVAL);
        }
        return reply;
    case VANTOR_SPEEDHQ_IOCTL_READ_LENGTH: {
        const PictureBytes* picture = m_selection == Selection::Program   ? m_program
                                      : m_selection == Selection::Preview ? m_preview
                                                                          : nullptr;
        if (picture == nullptr) {
            return failure(EINVAL);
        }
        reply.argument = static_cast<std::int32_t>(picture->size());
        return reply;
    }
    case VANTOR_SPEEDHQ_IOCTL_LOW_AC_READ:
        reply.argument = m_registers[VANTOR_SPEEDHQ_IOCTL_LOW_AC];
        return reply;
    default:
        break;
    }
    m_registers[code] = value;
    return reply;
}

bool EncoderModel::needs_pictures() const
{
    return m_started && (m_loops.find_program(m_active_mode, m_active_chroma420) == nullptr ||
                         m_loops.find_preview() == nullptr);
}

bool EncoderModel::request_pictures()
{
    return needs_pictures() && m_loops.request(m_active_mode, m_active_chroma420);
}

bool EncoderModel::collect_pictures(Clock::time_point now, std::string& error)
{
    const bool needed = needs_pictures();
    if (!m_loops.collect(error)) {
        return false;
    }
    if (needed && !needs_pictures()) {
        restart_clock(now);
    }
    return true;
}

bool EncoderModel::frames_flow() const
{
    return m_started && !m_stalled && !needs_pictures();
}

double EncoderModel::rate() const
{
    if (m_rate_override >= 0.0) {
        return m_rate_override;
    }
    if (m_format_rate > 0.0) {
        return m_format_rate;
    }
    // Without a format of the started mode in the settings: 2160p runs at 29.97, the others at
    // 59.94 pictures per second (fields, for 1080i).
    return m_active_mode == VANTOR_SPEEDHQ_MODE_2160P ? 30000.0 / 1001.0 : 60000.0 / 1001.0;
}

void EncoderModel::restart_clock(Clock::time_point now)
{
    m_epoch = now;
    m_epoch_frame = m_frame;
}

void EncoderModel::next_frame(Clock::time_point since, Clock::time_point& time,
                              std::uint64_t& number) const
{
    const double per_second = rate();
    if (per_second <= 0.0) {
        // Unpaced: every wait completes a frame of its own at once.
        time = since;
        number = m_frame + 1;
        return;
    }
    const double period_ns = 1e9 / per_second;
    const Clock::time_point from = std::max(since, m_epoch);
    const double elapsed_ns = static_cast<double>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(from - m_epoch).count());
    const double k = std::floor(elapsed_ns / period_ns) + 1.0;
    time = m_epoch + std::chrono::nanoseconds(static_cast<std::int64_t>(std::ceil(k * period_ns)));
    number = m_epoch_frame + static_cast<std::uint64_t>(k);
}

EncoderModel::Clock::time_point EncoderModel::wait_due(Clock::time_point since) const
{
    const Clock::time_point timeout = since + m_options.wait_timeout;
    if (!frames_flow()) {
        return timeout;
    }
    Clock::time_point time{};
    std::uint64_t number = 0;
    next_frame(since, time, number);
    return std::min(time, timeout);
}

EncoderModel::Reply EncoderModel::finish_wait(Clock::time_point since, Clock::time_point now)
{
    if (frames_flow()) {
        Clock::time_point time{};
        std::uint64_t number = 0;
        next_frame(since, time, number);
        if (now >= time) {
            if (number > m_frame) {
                complete_frame(number);
            }
            // Otherwise a wait on another connection already took this frame: both see it.
            m_selection = Selection::Status;
            return Reply{};
        }
    }
    return failure(ETIMEDOUT);
}

void EncoderModel::complete_frame(std::uint64_t number)
{
    m_frame = number;
    const std::int32_t previous = buffer_index(number - 1);
    m_index = buffer_index(number);
    if (m_repeat > 0) {
        --m_repeat;
        m_index = previous;
    } else if (m_bad_index_count > 0) {
        --m_bad_index_count;
        m_index = m_bad_index;
    }
    ModeSize size{};
    mode_size(m_active_mode, size);
    m_field = size.fields ? static_cast<std::int32_t>((number - 1) % 2) : 0;

    // Frames complete only once both loops exist.
    const PictureLoop* program = m_loops.find_program(m_active_mode, m_active_chroma420);
    const PictureLoop* preview = m_loops.find_preview();
    const auto slot =
        static_cast<std::size_t>((number - 1) % static_cast<std::uint64_t>(m_loops.length()));
    m_program = &(*program)[slot];
    m_preview = &(*preview)[slot];
    // A corrupt header: the second-field offset is no longer that of a single field.
    if (m_corrupt_program_count > 0) {
        --m_corrupt_program_count;
        m_corrupt_program = *m_program;
        m_corrupt_program[1] = 0xFF;
        m_program = &m_corrupt_program;
    }
    if (m_corrupt_preview_count > 0) {
        --m_corrupt_preview_count;
        m_corrupt_preview = *m_preview;
        m_corrupt_preview[1] = 0xFF;
        m_preview = &m_corrupt_preview;
    }

    const std::uint32_t words[VANTOR_SPEEDHQ_STATUS_WORDS] = {
        static_cast<std::uint32_t>(number),
        static_cast<std::uint32_t>(m_program->size()),
        static_cast<std::uint32_t>(m_preview->size()),
        static_cast<std::uint32_t>(m_field),
        static_cast<std::uint32_t>(previous),
        static_cast<std::uint32_t>(m_active_mode)};
    for (std::size_t i = 0; i < VANTOR_SPEEDHQ_STATUS_WORDS; ++i) {
        speedhq_protocol::put_u32(m_status.data() + 4 * i, words[i]);
    }
}

const char* EncoderModel::command_help()
{
    return "  stall                      no more frames complete: frame waits fail after the wait\n"
           "                             time-out (ETIMEDOUT)\n"
           "  resume                     frames complete again\n"
           "  repeat [N]                 the next N frames (default 1) report the previous\n"
           "                             buffer index again (index equals status word 4)\n"
           "  index V [N]                the next N frames (default 1) report buffer index V\n"
           "                             (e.g. 0 or 6; a negative V makes the status read fail\n"
           "                             with EIO)\n"
           "  corrupt [program|preview] [N]\n"
           "                             the next N program (default) or preview pictures get a\n"
           "                             corrupt header (byte 1 = 0xFF)\n"
           "  rate R | rate default      pictures per second for every mode (0: one picture per\n"
           "                             wait, as fast as asked), or back to each mode's default\n"
           "  status                     one line: started, mode, chroma, rate, frames, stalled\n"
           "  requests                   the requests received, in order, on one line\n"
           "  clear-requests             forget the requests received so far\n"
           "  help                       the command names\n"
           "  quit                       end the simulator\n";
}

std::string EncoderModel::command(const std::string& line, Clock::time_point now, bool& quit)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    if (words.empty()) {
        return "error empty command";
    }
    const std::string& name = words[0];
    long count = 1;
    const auto count_at = [&words, &count](std::size_t position) {
        return words.size() <= position || parse_int(words[position], 1, 1000000, count);
    };
    if (name == "stall" && words.size() == 1) {
        m_stalled = true;
        return "ok stalled";
    }
    if (name == "resume" && words.size() == 1) {
        m_stalled = false;
        restart_clock(now);
        return "ok resumed";
    }
    if (name == "repeat" && words.size() <= 2 && count_at(1)) {
        m_repeat = static_cast<int>(count);
        return "ok repeat " + std::to_string(count);
    }
    if (name == "index" && words.size() >= 2 && words.size() <= 3) {
        long value = 0;
        if (parse_int(words[1], INT32_MIN, INT32_MAX, value) && count_at(2)) {
            m_bad_index = static_cast<std::int32_t>(value);
            m_bad_index_count = static_cast<int>(count);
            return "ok index " + std::to_string(value) + " " + std::to_string(count);
        }
    }
    if (name == "corrupt" && words.size() <= 3) {
        bool preview = false;
        std::size_t next = 1;
        if (words.size() > 1 && (words[1] == "program" || words[1] == "preview")) {
            preview = words[1] == "preview";
            next = 2;
        }
        if (words.size() <= next + 1 && count_at(next)) {
            (preview ? m_corrupt_preview_count : m_corrupt_program_count) = static_cast<int>(count);
            return std::string("ok corrupt ") + (preview ? "preview " : "program ") +
                   std::to_string(count);
        }
    }
    if (name == "rate" && words.size() == 2) {
        double value = 0.0;
        if (words[1] == "default") {
            m_rate_override = -1.0;
        } else if (parse_rate(words[1], value)) {
            m_rate_override = value;
        } else {
            return "error rate takes a number of pictures per second (0 or more) or 'default'";
        }
        restart_clock(now);
        return "ok rate " + std::to_string(rate());
    }
    if (name == "status" && words.size() == 1) {
        return "ok started=" + std::to_string(m_started ? 1 : 0) +
               " mode=" + std::to_string(m_active_mode) +
               " chroma=" + (m_active_chroma420 ? "420" : "422") +
               " rate=" + std::to_string(rate()) + " frames=" + std::to_string(m_frame) +
               " stalled=" + std::to_string(m_stalled ? 1 : 0);
    }
    if (name == "requests" && words.size() == 1) {
        std::string reply = "ok";
        for (const std::string& entry : m_requests) {
            reply += " " + entry;
        }
        return reply;
    }
    if (name == "clear-requests" && words.size() == 1) {
        m_requests.clear();
        return "ok";
    }
    if (name == "help") {
        return "ok commands: stall resume repeat index corrupt rate status requests "
               "clear-requests help quit";
    }
    if (name == "quit" && words.size() == 1) {
        quit = true;
        return "ok bye";
    }
    return "error unknown command or bad arguments: " + line + " (try help)";
}
