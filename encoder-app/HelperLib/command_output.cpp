#include "HelperLib/command_output.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string_view>

#include "vantor/unique_fd.h"

extern char**
    environ;  // NOLINT(readability-redundant-declaration): not declared by unistd.h in C++

namespace {

using Clock = std::chrono::steady_clock;

// Starts "/bin/sh -c command" in a process group of its own, its standard output into `out`.
pid_t start_shell(const char* command, int out_write, int out_read)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        return -1;
    }
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    posix_spawn_file_actions_adddup2(&actions, out_write, STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out_read);
    // Its own process group, so that a time-out ends the whole pipeline; no signal blocked (the
    // calling thread may block SIGINT).
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
    char shell[] = "/bin/sh";
    char dash_c[] = "-c";
    std::string text(command);
    char* argv[] = {shell, dash_c, text.data(), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, shell, &actions, &attributes, argv, environ) != 0) {
        pid = -1;
    }
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Keeps the last line read of `max_line_length` characters at most, as fgets reads would.
class LastRead {
public:
    explicit LastRead(int max_line_length) : m_max(static_cast<std::size_t>(max_line_length)) {}
    void take(std::string_view bytes)
    {
        for (const char c : bytes) {
            if (m_current.size() == m_max) {
                m_last = m_current;
                m_current.clear();
            }
            m_current += c;
            if (c == '\n') {
                m_last = m_current;
                m_current.clear();
            }
        }
    }
    std::string last() const { return m_current.empty() ? m_last : m_current; }

private:
    std::size_t m_max;
    std::string m_current;
    std::string m_last;
};

}  // namespace

bool command_last_read(const char* command, int max_line_length, std::string& last,
                       std::chrono::milliseconds timeout)
{
    last.clear();
    if (command == nullptr || max_line_length <= 0) {
        return false;
    }
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return false;
    }
    const vantor::UniqueFd out_read(ends[0]);
    vantor::UniqueFd out_write(ends[1]);
    const pid_t pid = start_shell(command, out_write.get(), out_read.get());
    out_write.reset();
    if (pid < 0) {
        return false;
    }
    LastRead reader(max_line_length);
    const auto deadline = Clock::now() + timeout;
    bool ended = false;
    bool timed_out = false;
    char buffer[256];
    while (!ended) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            timed_out = true;
            break;
        }
        pollfd readable = {out_read.get(), POLLIN, 0};
        const int ready = ::poll(&readable, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            continue;  // the deadline is looked at again
        }
        const ssize_t n = ::read(out_read.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ended = true;  // every writer closed its end
        } else {
            reader.take(std::string_view(buffer, static_cast<std::size_t>(n)));
        }
    }
    if (timed_out) {
        // A hung tool, or a file that is a FIFO nobody writes: the whole pipeline is ended.
        ::kill(-pid, SIGKILL);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (timed_out) {
        return false;
    }
    last = reader.last();
    return true;
}

std::string command_last_line(const char* command, int max_line_length)
{
    std::string last;
    if (!command_last_read(command, max_line_length, last)) {
        return {};
    }
    const std::string::size_type line_break = last.find('\n');
    if (line_break != std::string::npos) {
        last.erase(line_break);
    }
    return last;
}
