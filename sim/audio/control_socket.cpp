#include "control_socket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "vantor/file_io.h"

namespace {

constexpr std::size_t kMaxLine = 4096;

}  // namespace

ControlSocket::~ControlSocket()
{
    if (m_listen) {
        ::unlink(m_path.c_str());
    }
}

bool ControlSocket::listen_at(const std::string& path, std::string& error)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
        error = path + ": path too long for a Unix socket";
        return false;
    }
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && !S_ISSOCK(info.st_mode)) {
        error = path + " exists and is not a socket";
        return false;
    }
    ::unlink(path.c_str());
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    vantor::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd ||
        ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(fd.get(), 8) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    m_path = path;
    m_listen = std::move(fd);
    return true;
}

void ControlSocket::add_poll_fds(std::vector<pollfd>& fds) const
{
    if (m_listen) {
        fds.push_back({m_listen.get(), POLLIN, 0});
    }
    for (const auto& client : m_clients) {
        fds.push_back({client->fd.get(), POLLIN, 0});
    }
}

void ControlSocket::serve(const Handler& handler)
{
    for (;;) {
        vantor::UniqueFd fd(
            ::accept4(m_listen.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!fd) {
            break;
        }
        auto client = std::make_unique<Client>();
        client->fd = std::move(fd);
        m_clients.push_back(std::move(client));
    }
    for (auto& client : m_clients) {
        char buffer[1024];
        const ssize_t n = ::recv(client->fd.get(), buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            client->fd.reset();
            continue;
        }
        if (n > 0) {
            client->input.append(buffer, static_cast<std::size_t>(n));
        }
        std::size_t end = 0;
        while ((end = client->input.find('\n')) != std::string::npos) {
            std::string line = client->input.substr(0, end);
            client->input.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            const std::string reply = handler(line) + "\n";
            if (!vantor::send_all(client->fd.get(), reply.data(), reply.size())) {
                client->fd.reset();
                break;
            }
        }
        if (client->input.size() > kMaxLine) {
            const std::string reply = "error line too long\n";
            (void)vantor::send_all(client->fd.get(), reply.data(), reply.size());
            client->fd.reset();
        }
    }
    m_clients.erase(std::remove_if(m_clients.begin(), m_clients.end(),
                                   [](const auto& client) { return !client->fd; }),
                    m_clients.end());
}
