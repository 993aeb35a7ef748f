#include "support/speedhq_sim.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <sstream>
#include <thread>

#include "support/child_process.h"
#include "vantor/file_io.h"

namespace vantor::test {

namespace {

constexpr auto kStartDeadline = std::chrono::seconds(20);
constexpr int kReplyTimeoutMs = 20000;

vantor::UniqueFd connect_to(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
        return {};
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    vantor::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd &&
        ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        fd.reset();
    }
    return fd;
}

}  // namespace

SpeedHqSimProcess::SpeedHqSimProcess(const std::string& bin_dir, const std::string& socket_path,
                                     const std::vector<std::string>& extra)
{
    const std::string control_path = socket_path + ".control";
    std::vector<std::string> args = {bin_dir + "/speedhq-sim", "--no-stdin", "--control",
                                     control_path};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(socket_path);
    ChildStreams streams;
    streams.in = {-1, "/dev/null", O_RDONLY};
    streams.out = {-1, "/dev/null", O_WRONLY};
    m_pid = start_child(args, streams);
    if (m_pid < 0) {
        return;
    }
    // The control socket is created before the device socket, which appears once it accepts.
    const auto deadline = std::chrono::steady_clock::now() + kStartDeadline;
    while (std::chrono::steady_clock::now() < deadline) {
        if (::access(socket_path.c_str(), F_OK) == 0) {
            m_control = connect_to(control_path);
            break;
        }
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

SpeedHqSimProcess::~SpeedHqSimProcess()
{
    m_control.reset();
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
}

std::string SpeedHqSimProcess::command(const std::string& line)
{
    if (!m_control || !vantor::write_all(m_control.get(), line + "\n")) {
        return "error no simulator";
    }
    std::string reply;
    char c = 0;
    while (true) {
        pollfd fd{m_control.get(), POLLIN, 0};
        if (::poll(&fd, 1, kReplyTimeoutMs) != 1 || ::read(m_control.get(), &c, 1) != 1) {
            return "error no reply";
        }
        if (c == '\n') {
            return reply;
        }
        reply.push_back(c);
    }
}

std::vector<std::string> SpeedHqSimProcess::requests()
{
    std::istringstream in(command("requests"));
    std::vector<std::string> entries;
    std::string word;
    in >> word;  // "ok"
    while (in >> word) {
        entries.push_back(word);
    }
    return entries;
}

}  // namespace vantor::test
