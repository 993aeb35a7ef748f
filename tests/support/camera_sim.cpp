#include "support/camera_sim.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <sstream>
#include <thread>

#include "support/child_process.h"
#include "vantor/file_io.h"

namespace vantor::test {

CameraSimProcess::CameraSimProcess(const std::string& bin_dir, const std::string& link_path,
                                   const std::string& control_path,
                                   const std::vector<std::string>& extra)
{
    std::vector<std::string> args = {bin_dir + "/camera-sim", "--link", link_path, "--control",
                                     control_path};
    args.insert(args.end(), extra.begin(), extra.end());
    ChildStreams streams;
    streams.in = {-1, "/dev/null", O_RDONLY};
    m_pid = start_child(args, streams);
    if (m_pid < 0) {
        return;
    }
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, control_path.c_str(), sizeof address.sun_path - 1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        vantor::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            m_control = std::move(fd);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

CameraSimProcess::~CameraSimProcess()
{
    m_control.reset();
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
}

std::string CameraSimProcess::command(const std::string& line)
{
    if (!m_control || !vantor::write_all(m_control.get(), line + "\n")) {
        return "error: no simulator\n";
    }
    std::string answer;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_control.get(), buffer, sizeof buffer);
        if (n <= 0) {
            return answer + "error: simulator gone\n";
        }
        answer.append(buffer, static_cast<size_t>(n));
        if (answer.empty() || answer.back() != '\n') {
            continue;
        }
        const size_t start = answer.rfind('\n', answer.size() - 2);
        const std::string last = answer.substr(start == std::string::npos ? 0 : start + 1);
        if (last == "ok\n" || last.rfind("error: ", 0) == 0) {
            return answer;
        }
    }
}

bool CameraSimProcess::ok(const std::string& line)
{
    return command(line) == "ok\n";
}

std::vector<std::string> CameraSimProcess::history()
{
    std::vector<std::string> lines;
    std::istringstream in(command("history"));
    for (std::string line; std::getline(in, line);) {
        if (line != "ok") {
            lines.push_back(line);
        }
    }
    return lines;
}

std::map<std::string, std::string> CameraSimProcess::state()
{
    std::map<std::string, std::string> values;
    std::istringstream in(command("state"));
    for (std::string line; std::getline(in, line);) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos) {
            values[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return values;
}

bool CameraSimProcess::wait_line_idle(std::chrono::milliseconds deadline)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
        const auto s = state();
        if (s.count("line_busy") != 0 && s.at("line_busy") == "0") {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

}  // namespace vantor::test
