#include "fpga_sim_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/child_process.h"
#include "vantor/file_io.h"

namespace vantor::test {

namespace {

constexpr auto kDeadline = std::chrono::seconds(10);

}  // namespace

void make_platform_board(const TempBoardRoot& root)
{
    for (const char* dir : {"/dev", "/sys/class/gpio/gpio957"}) {
        root.make_dir(dir);
    }
    for (const char* file :
         {"/sys/class/gpio/export", "/sys/class/gpio/unexport", "/sys/class/gpio/gpio957/direction",
          "/sys/class/gpio/gpio957/value"}) {
        write_text(root / file, "");
    }
}

std::string FpgaSimProcess::reg(const std::string& name)
{
    for (const std::string& line : command("dump")) {
        if (line.rfind(name + " ", 0) == 0) {
            return line.substr(name.size() + 1);
        }
    }
    return "?";
}

FpgaSimProcess::FpgaSimProcess()
{
    int to_child[2];
    int from_child[2];
    if (::pipe2(to_child, O_CLOEXEC) != 0) {
        return;
    }
    if (::pipe2(from_child, O_CLOEXEC) != 0) {
        ::close(to_child[0]);
        ::close(to_child[1]);
        return;
    }
    vantor::UniqueFd child_in(to_child[0]);
    vantor::UniqueFd child_out(from_child[1]);
    m_to.reset(to_child[1]);
    m_from.reset(from_child[0]);

    vantor::test::ChildStreams streams;
    streams.in.fd = child_in.get();
    streams.out.fd = child_out.get();
    m_pid = vantor::test::start_child({std::string(VANTOR_BIN_DIR) + "/fpga-sim"}, streams);
    if (m_pid < 0) {
        return;
    }
    m_started = read_line(m_ready) && m_ready.rfind("fpga-sim: ready ", 0) == 0;
}

FpgaSimProcess::~FpgaSimProcess()
{
    if (m_pid <= 0) {
        return;
    }
    (void)vantor::write_all(m_to.get(), "quit\n");
    m_to.reset();
    const auto until = std::chrono::steady_clock::now() + kDeadline;
    int status = 0;
    while (::waitpid(m_pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > until) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
            ADD_FAILURE() << "fpga-sim did not end on quit";
            break;
        }
        // Waiting for the child to end: poll its output for end of file, up to 10 ms at a time.
        struct pollfd pfd {
            m_from.get(), POLLIN, 0
        };
        if (::poll(&pfd, 1, 10) > 0) {
            char sink[256];
            (void)::read(m_from.get(), sink, sizeof sink);
        }
    }
}

bool FpgaSimProcess::read_line(std::string& line)
{
    const auto until = std::chrono::steady_clock::now() + kDeadline;
    for (;;) {
        const size_t end = m_buffer.find('\n');
        if (end != std::string::npos) {
            line = m_buffer.substr(0, end);
            m_buffer.erase(0, end + 1);
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        struct pollfd pfd {
            m_from.get(), POLLIN, 0
        };
        if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        char chunk[4096];
        const ssize_t n = ::read(m_from.get(), chunk, sizeof chunk);
        if (n <= 0) {
            return false;
        }
        m_buffer.append(chunk, static_cast<size_t>(n));
    }
}

std::vector<std::string> FpgaSimProcess::command(const std::string& line, bool& ok)
{
    ok = false;
    std::vector<std::string> lines;
    if (!vantor::write_all(m_to.get(), line + "\n")) {
        return lines;
    }
    std::string reply;
    while (read_line(reply)) {
        if (reply == "ok") {
            ok = true;
            return lines;
        }
        lines.push_back(reply);
        if (reply.rfind("err ", 0) == 0) {
            return lines;
        }
    }
    return lines;
}

std::vector<std::string> FpgaSimProcess::command(const std::string& line)
{
    bool ok = false;
    std::vector<std::string> lines = command(line, ok);
    EXPECT_TRUE(ok) << "fpga-sim command \"" << line << "\" failed";
    return lines;
}

}  // namespace vantor::test
