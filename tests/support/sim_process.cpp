#include "support/sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>

#include "support/child_process.h"
#include "support/wait_until.h"
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

bool ends_a_line(const std::string& reply)
{
    return !reply.empty() && reply.back() == '\n';
}

}  // namespace

SimProcess::SimProcess(const std::vector<std::string>& argv, const Options& options)
{
    ChildStreams streams;
    streams.in = {-1, "/dev/null", O_RDONLY};
    if (!options.keep_output) {
        streams.out = {-1, "/dev/null", O_WRONLY};
    }
    m_pid = start_child(argv, streams);
    if (m_pid < 0) {
        return;
    }
    bool ended = false;
    wait_until(
        [&] {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                ended = true;  // it gave up at the start: nothing to wait for
                return true;
            }
            if (::access(options.ready_path.c_str(), F_OK) == 0) {
                m_control = connect_to(options.control_path);
            }
            return m_control.valid();
        },
        kStartDeadline, std::chrono::milliseconds(5));
    if (ended) {
        m_pid = -1;
    }
}

SimProcess::~SimProcess()
{
    m_control.reset();
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
}

std::string SimProcess::exchange(const std::string& line,
                                 bool (*complete)(const std::string& reply), bool& failed)
{
    failed = true;
    if (!m_control || !vantor::write_all(m_control.get(), line + "\n")) {
        return {};
    }
    std::string reply;
    char buffer[4096];
    while (!complete(reply)) {
        pollfd readable{m_control.get(), POLLIN, 0};
        if (::poll(&readable, 1, kReplyTimeoutMs) != 1) {
            return {};
        }
        const ssize_t n = ::read(m_control.get(), buffer, sizeof buffer);
        if (n <= 0) {
            return {};
        }
        reply.append(buffer, static_cast<size_t>(n));
    }
    failed = false;
    return reply;
}

std::string SimProcess::one_line(const std::string& line, const std::string& error)
{
    bool failed = false;
    std::string reply = exchange(line, ends_a_line, failed);
    if (failed) {
        return error;
    }
    reply.pop_back();
    return reply;
}

}  // namespace vantor::test
