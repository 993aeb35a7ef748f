#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vantor::test {

// What a command printed (standard output and error together) and how it ended.
struct CommandResult {
    bool ended = false;  // false: killed at the deadline
    int status = -1;     // exit status when it exited, -1 otherwise
    std::string output;
};

// Runs `argv` (argv[0] found in PATH) with standard input closed, collecting its output; kills it
// when it is still running at the deadline.
CommandResult run_command(const std::vector<std::string>& argv, std::chrono::seconds deadline);

// Runs `scripts/run` with the given arguments, its output going to `log_path`. The destructor stops
// a script still running (SIGTERM, then SIGKILL) and reaps it.
class BoardScript {
public:
    BoardScript(const std::string& source_dir, const std::vector<std::string>& args,
                const std::string& log_path);
    ~BoardScript();
    BoardScript(const BoardScript&) = delete;
    BoardScript& operator=(const BoardScript&) = delete;

    bool started() const { return m_pid > 0; }
    bool running();
    void signal(int signo) const;
    // Waits until the script ends; its exit status, or nothing when it still runs at the deadline
    // (or did not end by exiting).
    std::optional<int> wait_exit(std::chrono::seconds deadline);
    std::string output() const;

private:
    pid_t m_pid = -1;
    std::optional<int> m_status;
    std::string m_log_path;
};

// The board's facts that scripts/run writes to ROOT/run/board.env (KEY=VALUE lines).
std::map<std::string, std::string> read_board_env(const std::string& root);

// Waits until ROOT/run/board.env holds `key` while the script runs; the whole file then, or an
// empty map when the script ended or the deadline passed first.
std::map<std::string, std::string> wait_board_env(BoardScript& script, const std::string& root,
                                                  const std::string& key,
                                                  std::chrono::seconds deadline);

// Processes whose command line or environment mention `text` (a board root), as "pid: command".
std::vector<std::string> processes_mentioning(const std::string& text);

// True while the network namespace `name` exists or is still mounted anywhere.
bool netns_present(const std::string& name);

}  // namespace vantor::test
