#include "fake_encoder.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "NdiTransmitter/SpeedHqProtocol.h"
#include "NdiTransmitter/vantor_speedhq_ioctl.h"
#include "vantor/file_io.h"

namespace vantor::test {

namespace proto = speedhq_protocol;

std::string speedhq_picture(std::size_t size, std::uint8_t quality, std::uint8_t offset)
{
    std::string bytes(size, '\x55');
    const char header[4] = {static_cast<char>(quality), static_cast<char>(offset), 0, 0};
    std::memcpy(&bytes[0], header, std::min<std::size_t>(size, 4));
    return bytes;
}

FakeEncoder::FakeEncoder(const std::string& socket_path) : m_path(socket_path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socket_path.c_str(), socket_path.size() + 1);
    m_listen.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::bind(m_listen.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(m_listen.get(), 4) != 0) {
        m_listen.reset();
    }
    int pipe_fds[2] = {-1, -1};
    if (::pipe(pipe_fds) == 0) {
        m_stop_read.reset(pipe_fds[0]);
        m_stop_write.reset(pipe_fds[1]);
    }
    m_thread = std::thread([this] { serve(); });
}

FakeEncoder::~FakeEncoder()
{
    vantor::write_all(m_stop_write.get(), "x");
    m_thread.join();
    ::unlink(m_path.c_str());
}

void FakeEncoder::add(const ScriptedFrame& frame)
{
    const std::lock_guard<std::mutex> lock(m_lock);
    m_script.push_back(frame);
}

std::size_t FakeEncoder::frames_left()
{
    const std::lock_guard<std::mutex> lock(m_lock);
    return m_script.size();
}

void FakeEncoder::gate(std::uint32_t code)
{
    m_gate_code.store(code);
}

void FakeEncoder::ungate()
{
    m_gate_code.store(-1);
    m_credits.fetch_add(1);
}

void FakeEncoder::send_held_when_released()
{
    if (!m_holding.load() || (m_credits.load() <= 0 && m_gate_code.load() >= 0)) {
        return;
    }
    m_credits.fetch_sub(1);
    // The client may have given the wait up and closed its connection meanwhile.
    vantor::send_all(m_connections[m_held_connection].fd.get(), m_held_answer.data(),
                     m_held_answer.size());
    m_held_answer.clear();
    m_holding.store(false);
}

std::vector<std::string> FakeEncoder::requests()
{
    const std::lock_guard<std::mutex> lock(m_lock);
    return m_requests;
}

void FakeEncoder::clear_requests()
{
    const std::lock_guard<std::mutex> lock(m_lock);
    m_requests.clear();
}

void FakeEncoder::serve()
{
    while (m_listen) {
        send_held_when_released();
        std::vector<pollfd> fds = {{m_stop_read.get(), POLLIN, 0}, {m_listen.get(), POLLIN, 0}};
        std::vector<int> ids;
        for (auto& [id, connection] : m_connections) {
            if (connection.fd) {
                fds.push_back({connection.fd.get(), POLLIN, 0});
                ids.push_back(id);
            }
        }
        // While an answer is held, look at the credits every millisecond.
        if (::poll(fds.data(), fds.size(), m_holding.load() ? 1 : -1) < 0 || fds[0].revents != 0) {
            return;
        }
        if (fds[1].revents != 0) {
            m_connections[m_next_connection++].fd.reset(
                ::accept4(m_listen.get(), nullptr, nullptr, SOCK_CLOEXEC));
        }
        for (std::size_t i = 0; i < ids.size(); ++i) {
            if (fds[i + 2].revents == 0) {
                continue;
            }
            Connection& connection = m_connections[ids[i]];
            char buffer[256];
            const ssize_t n = ::read(connection.fd.get(), buffer, sizeof(buffer));
            if (n <= 0) {
                connection.fd.reset();
                continue;
            }
            connection.input.append(buffer, static_cast<std::size_t>(n));
            while (connection.fd && connection.input.size() >= proto::kRequestSize) {
                const std::string raw = connection.input.substr(0, proto::kRequestSize);
                connection.input.erase(0, proto::kRequestSize);
                handle(ids[i], connection, raw);
            }
        }
    }
}

void FakeEncoder::handle(int id, Connection& connection, const std::string& raw)
{
    std::uint8_t bytes[proto::kRequestSize];
    std::memcpy(bytes, raw.data(), sizeof(bytes));
    proto::Request request;
    proto::ResponseHeader header;
    std::string payload;
    if (!proto::decode_request(bytes, request)) {
        header.error = EPROTO;
    } else {
        const std::lock_guard<std::mutex> lock(m_lock);
        header.kind = request.kind;
        header.result = 0;
        if (request.kind == proto::kRead) {
            m_requests.push_back("read:" + std::to_string(request.code));
            if (request.code == VANTOR_SPEEDHQ_STATUS_WORDS) {
                if (m_current.index < 0) {
                    header.result = -1;
                    header.error = EIO;
                } else {
                    std::uint8_t words[4 * VANTOR_SPEEDHQ_STATUS_WORDS] = {};
                    proto::put_i32(words, m_frame_number);
                    proto::put_i32(words +
                                       std::size_t{4} * VANTOR_SPEEDHQ_STATUS_PREVIOUS_INDEX_WORD,
                                   m_current.previous);
                    header.result = m_current.index;
                    payload.assign(reinterpret_cast<const char*>(words), sizeof(words));
                }
            } else {
                const std::string& picture = m_selected == VANTOR_SPEEDHQ_RD_SEL_PREVIEW
                                                 ? m_current.preview
                                                 : m_current.program;
                payload = picture.substr(0, request.code);
                header.result = static_cast<std::int32_t>(payload.size());
            }
        } else {
            m_requests.push_back(request.has_argument ? std::to_string(request.code) + "=" +
                                                            std::to_string(request.argument)
                                                      : std::to_string(request.code));
            header.has_argument = request.has_argument;
            header.argument = request.argument;
            if (request.code == VANTOR_SPEEDHQ_IOCTL_RD_SEL) {
                if (request.argument == VANTOR_SPEEDHQ_RD_SEL_WAIT_FRAME) {
                    if (m_script.empty()) {
                        header.result = -1;
                        header.error = ETIMEDOUT;
                        m_failed_waits.fetch_add(1);
                    } else {
                        m_current = m_script.front();
                        m_script.pop_front();
                        ++m_frame_number;
                    }
                }
                m_selected = request.argument;
            } else if (request.code == VANTOR_SPEEDHQ_IOCTL_READ_LENGTH) {
                const std::string& picture = m_selected == VANTOR_SPEEDHQ_RD_SEL_PREVIEW
                                                 ? m_current.preview
                                                 : m_current.program;
                const std::int32_t reported = m_selected == VANTOR_SPEEDHQ_RD_SEL_PREVIEW
                                                  ? m_current.preview_length
                                                  : m_current.program_length;
                header.argument =
                    reported >= 0 ? reported : static_cast<std::int32_t>(picture.size());
            } else if (request.code == VANTOR_SPEEDHQ_IOCTL_GET_FIELD) {
                header.argument = m_current.field;
            }
        }
    }
    if (header.result < 0) {
        header.has_argument = false;
        payload.clear();
    }
    header.payload_size = static_cast<std::uint32_t>(payload.size());
    std::uint8_t out[proto::kResponseHeaderSize];
    proto::encode_response_header(header, out);
    const std::string answer =
        std::string(reinterpret_cast<const char*>(out), sizeof(out)) + payload;
    if (request.kind == proto::kControl &&
        static_cast<std::int64_t>(request.code) == m_gate_code.load()) {
        // The caller waits for this answer, so nothing else comes on the connection meanwhile.
        m_held_connection = id;
        m_held_answer = answer;
        m_holding.store(true);
        return;
    }
    vantor::send_all(connection.fd.get(), answer.data(), answer.size());
}

}  // namespace vantor::test
