#include "board_script.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <sstream>
#include <thread>

#include "support/child_process.h"
#include "vantor/unique_fd.h"

namespace vantor::test {

namespace {

constexpr auto kPollStep = std::chrono::milliseconds(50);
constexpr auto kStopDeadline = std::chrono::seconds(120);

std::vector<char*> argv_of(std::vector<std::string>& args)
{
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    return argv;
}

// Reaps `pid` when it has ended; its exit status, -1 when it ended by a signal, nothing while it
// runs.
std::optional<int> reap(pid_t pid)
{
    int raw = 0;
    if (::waitpid(pid, &raw, WNOHANG) != pid) {
        return std::nullopt;
    }
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

std::string read_or_empty(const std::string& path)
{
    std::string content;
    vantor::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        return content;
    }
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(fd.get(), buffer, sizeof buffer)) > 0) {
        content.append(buffer, static_cast<std::size_t>(got));
    }
    return content;
}

}  // namespace

CommandResult run_command(const std::vector<std::string>& argv_in, std::chrono::seconds deadline)
{
    CommandResult result;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        result.output = "pipe failed";
        return result;
    }
    vantor::UniqueFd read_end(fds[0]);
    vantor::UniqueFd write_end(fds[1]);

    std::vector<std::string> args = argv_in;
    std::vector<char*> argv = argv_of(args);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, write_end.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, write_end.get(), STDERR_FILENO);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    write_end.reset();
    if (rc != 0) {
        result.output = "cannot start " + args[0];
        return result;
    }

    const auto end = std::chrono::steady_clock::now() + deadline;
    bool open = true;
    while (open && std::chrono::steady_clock::now() < end) {
        pollfd pfd{read_end.get(), POLLIN, 0};
        if (::poll(&pfd, 1, 100) <= 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t got = ::read(read_end.get(), buffer, sizeof buffer);
        if (got > 0) {
            result.output.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0) {
            open = false;
        }
    }
    if (open) {
        ::kill(pid, SIGKILL);
    }
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    result.ended = !open;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return result;
}

BoardScript::BoardScript(const std::string& source_dir, const std::vector<std::string>& args,
                         const std::string& log_path)
    : m_log_path(log_path)
{
    std::vector<std::string> all = {"/bin/bash", source_dir + "/scripts/run"};
    all.insert(all.end(), args.begin(), args.end());
    // scripts/run stops everything it started when it gets SIGTERM, also when the test died.
    vantor::test::ChildStreams streams;
    streams.in = {-1, "/dev/null", O_RDONLY};
    streams.out = {-1, log_path, O_WRONLY | O_CREAT | O_TRUNC};
    streams.err.fd = STDOUT_FILENO;
    m_pid = vantor::test::start_child(all, streams);
}

BoardScript::~BoardScript()
{
    if (!running()) {
        return;
    }
    signal(SIGTERM);
    if (!wait_exit(kStopDeadline)) {
        ::kill(m_pid, SIGKILL);
        int raw = 0;
        ::waitpid(m_pid, &raw, 0);
    }
}

bool BoardScript::running()
{
    if (m_pid <= 0 || m_status) {
        return false;
    }
    m_status = reap(m_pid);
    return !m_status;
}

void BoardScript::signal(int signo) const
{
    if (m_pid > 0 && !m_status) {
        ::kill(m_pid, signo);
    }
}

std::optional<int> BoardScript::wait_exit(std::chrono::seconds deadline)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (running() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(kPollStep);
    }
    if (running() || !m_status || *m_status < 0) {
        return std::nullopt;
    }
    return m_status;
}

std::string BoardScript::output() const
{
    return read_or_empty(m_log_path);
}

std::map<std::string, std::string> read_board_env(const std::string& root)
{
    std::map<std::string, std::string> facts;
    std::istringstream lines(read_or_empty(root + "/run/board.env"));
    std::string line;
    while (std::getline(lines, line)) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) {
            facts[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    return facts;
}

std::map<std::string, std::string> wait_board_env(BoardScript& script, const std::string& root,
                                                  const std::string& key,
                                                  std::chrono::seconds deadline)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (script.running() && std::chrono::steady_clock::now() < end) {
        auto facts = read_board_env(root);
        if (facts.count(key) != 0) {
            return facts;
        }
        std::this_thread::sleep_for(kPollStep);
    }
    return {};
}

std::vector<std::string> processes_mentioning(const std::string& text)
{
    std::vector<std::string> found;
    const std::string self = std::to_string(::getpid());
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return found;
    }
    while (const dirent* entry = ::readdir(proc)) {
        const std::string pid = entry->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos ||
            pid == self) {
            continue;
        }
        const std::string cmdline = read_or_empty("/proc/" + pid + "/cmdline");
        const std::string environment = read_or_empty("/proc/" + pid + "/environ");
        if (cmdline.find(text) != std::string::npos ||
            environment.find(text) != std::string::npos) {
            std::string shown = pid;
            shown += ": ";
            for (const char c : cmdline) {
                shown += c == '\0' ? ' ' : c;
            }
            found.push_back(shown);
        }
    }
    ::closedir(proc);
    return found;
}

bool netns_present(const std::string& name)
{
    struct stat info {};
    if (::stat(("/run/netns/" + name).c_str(), &info) == 0) {
        return true;
    }
    return read_or_empty("/proc/self/mountinfo").find("/netns/" + name) != std::string::npos;
}

}  // namespace vantor::test
