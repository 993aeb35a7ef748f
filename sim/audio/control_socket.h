#pragma once

#include <poll.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vantor/unique_fd.h"

// A Unix stream socket that takes text commands, one per line, from any number of clients, and
// answers each with one line.
class ControlSocket {
public:
    using Handler = std::function<std::string(const std::string& line)>;

    ~ControlSocket();
    // Listens at `path` (a stale socket there is replaced); false with `error` when that fails.
    bool listen_at(const std::string& path, std::string& error);
    // The descriptors to poll for input, appended to `fds`.
    void add_poll_fds(std::vector<pollfd>& fds) const;
    // Accepts new clients and carries out the complete lines that arrived.
    void serve(const Handler& handler);

private:
    struct Client {
        vantor::UniqueFd fd;
        std::string input;
    };
    std::string m_path;
    vantor::UniqueFd m_listen;
    std::vector<std::unique_ptr<Client>> m_clients;
};
