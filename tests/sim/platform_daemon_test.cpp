#include "platform_daemon_test.h"

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>

#include "support/child_process.h"
#include "support/count_of.h"
#include "support/wait_until.h"

namespace vantor::test {

namespace {

const char* const kLog = "/app.log";
const char* const kErrors = "/app.err";

}  // namespace

void PlatformDaemonTest::SetUp()
{
    make_platform_board(m_root);
    m_sim = std::make_unique<FpgaSimProcess>();
    ASSERT_TRUE(m_sim->started()) << m_sim->ready_line();
}

void PlatformDaemonTest::TearDown()
{
    if (m_app > 0) {
        ::kill(m_app, SIGTERM);
        int status = 0;
        ::waitpid(m_app, &status, 0);
        // A sanitizer build reports on standard error while the daemon runs.
        const std::string errors = read_text(m_root / kErrors);
        EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
    }
    m_sim.reset();
}

void PlatformDaemonTest::launch_daemon()
{
    ChildStreams streams;
    streams.in.path = "/dev/null";
    streams.out.path = m_root / kLog;
    streams.out.flags = O_WRONLY | O_CREAT | O_TRUNC;
    streams.err.path = m_root / kErrors;
    streams.err.flags = O_WRONLY | O_CREAT | O_TRUNC;
    m_app = start_child({std::string(VANTOR_BIN_DIR) + "/platform-app"}, streams);
    ASSERT_GT(m_app, 0);
}

void PlatformDaemonTest::start_daemon()
{
    launch_daemon();
    ASSERT_TRUE(wait_for_log("Platform Rdy----Done !", 1, std::chrono::seconds(20))) << log();
}

std::string PlatformDaemonTest::log() const
{
    return read_text(m_root / kLog);
}

bool PlatformDaemonTest::wait_for_log(const std::string& line, size_t times,
                                      std::chrono::milliseconds deadline)
{
    return wait_until([&] { return count_of(log(), line) >= times; }, deadline);
}

bool PlatformDaemonTest::daemon_running() const
{
    return m_app > 0 && ::waitpid(m_app, nullptr, WNOHANG) == 0;
}

}  // namespace vantor::test
