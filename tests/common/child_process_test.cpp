#include "support/child_process.h"

#include <fcntl.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <string>

#include "support/temp_board_root.h"

namespace {

// A test started in the background has SIGINT ignored; the programs it starts must not inherit
// that, or the board's script could never be stopped with SIGINT.
TEST(StartChild, ProgramsGetTheDefaultHandlingOfSignalsTheTestIgnores)
{
    const vantor::test::TempDir dir;
    const std::string out = dir / "status";
    vantor::test::ChildStreams streams;
    streams.out.path = out;
    streams.out.flags = O_WRONLY | O_CREAT | O_TRUNC;
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction saved {};
    ASSERT_EQ(::sigaction(SIGINT, &ignore, &saved), 0);
    const pid_t pid =
        vantor::test::start_child({"/bin/grep", "^SigIgn:", "/proc/self/status"}, streams);
    ::sigaction(SIGINT, &saved, nullptr);
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    const std::string line = vantor::test::read_text(out);
    ASSERT_EQ(line.rfind("SigIgn:\t", 0), 0U) << line;
    const uint64_t ignored = std::stoull(line.substr(8), nullptr, 16);
    EXPECT_EQ(ignored & (uint64_t{1} << (SIGINT - 1)), 0U) << line;
}

}  // namespace
