#include "support/child_process.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>

namespace vantor::test {

namespace {

// In the child between fork and exec: only calls that are safe there.
bool redirect(const ChildStream& stream, int target)
{
    int fd = stream.fd;
    if (fd < 0 && !stream.path.empty()) {
        fd = ::open(stream.path.c_str(), stream.flags | O_CLOEXEC, 0644);
        if (fd < 0) {
            return false;
        }
    }
    return fd < 0 || fd == target || ::dup2(fd, target) == target;
}

}  // namespace

pid_t start_child(const std::vector<std::string>& argv, const ChildStreams& streams)
{
    if (argv.empty()) {
        return -1;
    }
    std::vector<std::string> args = argv;
    std::vector<char*> pointers;
    pointers.reserve(args.size() + 1);
    for (std::string& arg : args) {
        pointers.push_back(arg.data());
    }
    pointers.push_back(nullptr);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0) {
        return pid;
    }
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) {
        ::_exit(127);  // the test ended before the signal was armed
    }
    // The program gets the default handling of every signal: a test run in the background (from
    // nohup, or `&` in a script) has SIGINT and SIGQUIT ignored, and a shell script started with
    // a signal ignored cannot trap it (the board's script would not stop on SIGINT).
    for (const int signo : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGPIPE}) {
        ::signal(signo, SIG_DFL);
    }
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (!redirect(streams.in, STDIN_FILENO) || !redirect(streams.out, STDOUT_FILENO) ||
        !redirect(streams.err, STDERR_FILENO)) {
        ::_exit(127);
    }
    ::execv(pointers[0], pointers.data());
    ::_exit(127);
}

}  // namespace vantor::test
