#include "Server.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "vantor/file_io.h"

volatile std::sig_atomic_t g_speedhq_sim_stop = 0;

namespace {

using Clock = EncoderModel::Clock;

constexpr int kSendTimeoutMs = 2000;
constexpr std::size_t kMaxCommandLine = 4096;

// Binds a listening Unix stream socket under a temporary name and renames it into place, so that
// the path exists only once connections are accepted. A stale socket at the path is replaced;
// anything else there is left alone and reported.
vantor::UniqueFd listen_at(const std::string& path, std::string& error)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) {
            error = path + " exists and is not a socket";
            return {};
        }
        ::unlink(path.c_str());
    }
    const std::string temporary = path + ".new";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (temporary.size() >= sizeof(address.sun_path)) {
        error = path + ": path too long for a Unix socket";
        return {};
    }
    std::memcpy(address.sun_path, temporary.c_str(), temporary.size() + 1);
    vantor::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ::unlink(temporary.c_str());
    if (!fd ||
        ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(fd.get(), 16) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = path + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return {};
    }
    return fd;
}

vantor::UniqueFd accept_from(int listen_fd)
{
    vantor::UniqueFd fd(::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC));
    if (fd) {
        timeval timeout{};
        timeout.tv_sec = kSendTimeoutMs / 1000;
        timeout.tv_usec = static_cast<suseconds_t>(kSendTimeoutMs % 1000) * 1000;
        ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
    }
    return fd;
}

}  // namespace

Server::Server(EncoderModel& model, Options options) : m_model(model), m_options(std::move(options))
{
}

Server::~Server()
{
    if (m_created_socket) {
        ::unlink(m_options.socket_path.c_str());
    }
    if (m_created_control) {
        ::unlink(m_options.control_path.c_str());
    }
}

bool Server::start(std::string& error)
{
    if (!m_options.control_path.empty()) {
        m_control_listen = listen_at(m_options.control_path, error);
        if (!m_control_listen) {
            return false;
        }
        m_created_control = true;
    }
    m_listen = listen_at(m_options.socket_path, error);
    if (!m_listen) {
        return false;
    }
    m_created_socket = true;
    m_stdin_open = m_options.read_stdin;
    return true;
}

bool Server::send_reply(int fd, std::uint16_t kind, const EncoderModel::Reply& reply)
{
    speedhq_protocol::ResponseHeader header;
    header.kind = kind;
    header.has_argument = reply.has_argument;
    header.result = reply.result;
    header.error = reply.error;
    header.argument = reply.argument;
    header.payload_size = reply.payload_size;
    std::uint8_t bytes[speedhq_protocol::kResponseHeaderSize];
    speedhq_protocol::encode_response_header(header, bytes);
    return vantor::send_all(fd, bytes, sizeof(bytes)) &&
           (reply.payload_size == 0 || vantor::send_all(fd, reply.payload, reply.payload_size));
}

bool Server::serve_request(DeviceClient& client)
{
    client.have = 0;
    speedhq_protocol::Request request;
    if (!speedhq_protocol::decode_request(client.request, request)) {
        // The stream is out of step or not this protocol: say so once and hang up.
        std::fprintf(stderr, "speedhq-sim: malformed request, closing the connection\n");
        EncoderModel::Reply refused;
        refused.result = -1;
        refused.error = EPROTO;
        send_reply(client.fd.get(), speedhq_protocol::kRefused, refused);
        return false;
    }
    const Clock::time_point now = Clock::now();
    if (EncoderModel::is_frame_wait(request)) {
        m_model.log_frame_wait();
        client.waiting = true;
        client.since = now;
        return true;
    }
    return send_reply(client.fd.get(), request.kind, m_model.handle(request, now));
}

bool Server::serve_device(DeviceClient& client)
{
    while (!client.waiting) {
        const ssize_t n = ::recv(client.fd.get(), client.request + client.have,
                                 sizeof(client.request) - client.have, MSG_DONTWAIT);
        if (n < 0) {
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        }
        if (n == 0) {
            return false;  // the peer closed
        }
        client.have += static_cast<std::size_t>(n);
        if (client.have == sizeof(client.request) && !serve_request(client)) {
            return false;
        }
    }
    return true;
}

void Server::run_commands(std::string& input, int out_fd)
{
    for (std::size_t end = input.find('\n'); end != std::string::npos; end = input.find('\n')) {
        std::string line = input.substr(0, end);
        input.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.find_first_not_of(" \t") == std::string::npos) {
            continue;
        }
        const std::string reply = m_model.command(line, Clock::now(), m_quit) + "\n";
        vantor::write_all(out_fd, reply);
    }
    if (input.size() > kMaxCommandLine) {
        input.clear();
        vantor::write_all(out_fd, "error command line too long\n");
    }
}

int Server::run()
{
    std::vector<pollfd> fds;
    while (!m_quit && g_speedhq_sim_stop == 0) {
        const Clock::time_point now = Clock::now();
        const bool any_waiting = std::any_of(m_clients.begin(), m_clients.end(),
                                             [](const auto& client) { return client->waiting; });
        if (any_waiting && m_model.request_pictures()) {
            std::printf("speedhq-sim: encoding the pictures of this configuration\n");
            std::fflush(stdout);
        }

        // Answer the waits that are due; a client may then send its next request.
        Clock::time_point next = now + std::chrono::milliseconds(200);
        for (auto& client : m_clients) {
            if (!client->waiting) {
                continue;
            }
            const Clock::time_point due = m_model.wait_due(client->since);
            if (due <= now) {
                client->waiting = false;
                const EncoderModel::Reply reply = m_model.finish_wait(client->since, now);
                if (!send_reply(client->fd.get(), speedhq_protocol::kControl, reply) ||
                    !serve_device(*client)) {
                    client->fd.reset();
                }
            } else {
                next = std::min(next, due);
            }
        }
        m_clients.erase(std::remove_if(m_clients.begin(), m_clients.end(),
                                       [](const auto& client) { return !client->fd; }),
                        m_clients.end());
        if (std::any_of(m_clients.begin(), m_clients.end(), [this, now](const auto& client) {
                return client->waiting && m_model.wait_due(client->since) <= now;
            })) {
            continue;
        }

        fds.clear();
        fds.push_back({m_listen.get(), POLLIN, 0});
        fds.push_back({m_control_listen.get(), POLLIN, 0});
        fds.push_back({m_stdin_open ? STDIN_FILENO : -1, POLLIN, 0});
        fds.push_back({m_model.pictures_ready_fd(), POLLIN, 0});
        for (const auto& client : m_clients) {
            fds.push_back({client->fd.get(), static_cast<short>(client->waiting ? 0 : POLLIN), 0});
        }
        for (const auto& control : m_controls) {
            fds.push_back({control->fd.get(), POLLIN, 0});
        }
        const auto timeout_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                    next - Clock::now() + std::chrono::microseconds(999))
                                    .count();
        const int ready =
            ::poll(fds.data(), fds.size(), static_cast<int>(std::max<std::int64_t>(timeout_ms, 0)));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::perror("speedhq-sim: poll");
            return 1;
        }

        if (fds[3].revents != 0) {
            std::string error;
            if (!m_model.collect_pictures(Clock::now(), error)) {
                std::fprintf(stderr, "speedhq-sim: %s\n", error.c_str());
                return 1;
            }
        }
        std::size_t i = 4;
        for (auto& client : m_clients) {
            const short events = fds[i++].revents;
            const bool gone =
                (events & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (events & POLLIN) == 0;
            if (gone || ((events & POLLIN) != 0 && !serve_device(*client))) {
                client->fd.reset();
            }
        }
        char buffer[1024];
        for (auto& control : m_controls) {
            if (fds[i++].revents == 0) {
                continue;
            }
            const ssize_t n = ::read(control->fd.get(), buffer, sizeof(buffer));
            if (n <= 0) {
                control->fd.reset();
                continue;
            }
            control->input.append(buffer, static_cast<std::size_t>(n));
            run_commands(control->input, control->fd.get());
        }
        if (fds[2].revents != 0) {
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof(buffer));
            if (n <= 0) {
                m_stdin_open = false;  // end of input: keep serving without commands from it
            } else {
                m_stdin_input.append(buffer, static_cast<std::size_t>(n));
                run_commands(m_stdin_input, STDOUT_FILENO);
            }
        }
        m_clients.erase(std::remove_if(m_clients.begin(), m_clients.end(),
                                       [](const auto& client) { return !client->fd; }),
                        m_clients.end());
        m_controls.erase(std::remove_if(m_controls.begin(), m_controls.end(),
                                        [](const auto& control) { return !control->fd; }),
                         m_controls.end());
        if ((fds[0].revents & POLLIN) != 0) {
            auto client = std::make_unique<DeviceClient>();
            client->fd = accept_from(m_listen.get());
            if (client->fd) {
                m_clients.push_back(std::move(client));
            }
        }
        if ((fds[1].revents & POLLIN) != 0) {
            auto control = std::make_unique<ControlClient>();
            control->fd = accept_from(m_control_listen.get());
            if (control->fd) {
                m_controls.push_back(std::move(control));
            }
        }
    }
    return 0;
}
