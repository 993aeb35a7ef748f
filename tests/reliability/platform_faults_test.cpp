// Hardware faults of the platform daemon's side of the board, injected on fpga-sim: an I2C chip
// that stops answering, and the command channel's UIO device missing at start.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fpga_sim_process.h"
#include "support/child_process.h"
#include "support/temp_board_root.h"
#include "support/wait_until.h"

namespace {

using namespace std::chrono_literals;
using vantor::test::count_of;
using vantor::test::read_text;
using vantor::test::wait_until;

const std::string kFormatDone = "Change UHDSDI STD Format = 20\n";

bool has_event(const std::vector<std::string>& events, const std::string& part)
{
    return std::any_of(events.begin(), events.end(), [&](const std::string& event) {
        return event.find(part) != std::string::npos;
    });
}

class PlatformFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        vantor::test::make_platform_board(m_root);
        m_sim = std::make_unique<vantor::test::FpgaSimProcess>();
        ASSERT_TRUE(m_sim->started()) << m_sim->ready_line();
    }

    void TearDown() override
    {
        if (m_app > 0) {
            ::kill(m_app, SIGTERM);
            int status = 0;
            ::waitpid(m_app, &status, 0);
        }
        m_sim.reset();
    }

    void start_daemon()
    {
        vantor::test::ChildStreams streams;
        streams.in.path = "/dev/null";
        streams.out.path = m_root / "/app.log";
        streams.out.flags = O_WRONLY | O_CREAT | O_TRUNC;
        streams.err.fd = STDOUT_FILENO;
        m_app = vantor::test::start_child({std::string(VANTOR_BIN_DIR) + "/platform-app"}, streams);
        ASSERT_GT(m_app, 0);
    }
    std::string log() const { return read_text(m_root / "/app.log"); }
    bool wait_for_log(const std::string& line, size_t times)
    {
        return wait_until([&] { return count_of(log(), line) >= times; }, 30s);
    }
    bool daemon_running() const { return m_app > 0 && ::waitpid(m_app, nullptr, WNOHANG) == 0; }
    std::string reg(const std::string& name) { return m_sim->reg(name); }

    vantor::test::TempBoardRoot m_root;
    std::unique_ptr<vantor::test::FpgaSimProcess> m_sim;
    pid_t m_app = -1;
};

// The transmitter (0x3B) stops answering: each of its transactions fails with one line, the rest
// of the format change (receiver, both frame buffers) is carried out, and once the chip answers
// again the next format change programs it.
TEST_F(PlatformFaults, ChipNotAnsweringFailsOnlyItsOwnStepsOfAFormatChange)
{
    start_daemon();
    ASSERT_TRUE(wait_for_log("Platform Rdy----Done !", 1)) << log();
    m_sim->command("i2c mute 3B");
    m_sim->command("events");  // forget the bring-up
    m_sim->command("std 12 20");
    ASSERT_TRUE(wait_for_log(kFormatDone, 1)) << log();
    std::vector<std::string> events = m_sim->command("events");
    EXPECT_TRUE(has_event(events, "i2c 3B:BC no answer"));
    EXPECT_FALSE(has_event(events, "i2c 3B:BC=01"));
    EXPECT_TRUE(has_event(events, "i2c 4C:FF=80")) << "the receiver was not reprogrammed";
    EXPECT_EQ(reg("HDMI_REG_FB_R_EN"), "0x00000001");
    EXPECT_EQ(reg("UHDSDI_REG_FB_R_EN"), "0x00000001");
    EXPECT_GT(count_of(log(), "ERR:WriteByte->ioctl->I2C_RDWR"), 0U) << log();
    EXPECT_TRUE(daemon_running());

    m_sim->command("i2c answer 3B");
    m_sim->command("std 12 20");
    ASSERT_TRUE(wait_for_log(kFormatDone, 2)) << log();
    events = m_sim->command("events");
    EXPECT_TRUE(has_event(events, "i2c 3B:BC=01"));
    EXPECT_FALSE(has_event(events, "no answer"));

    bool ok = true;
    m_sim->command("i2c mute 77", ok);
    EXPECT_FALSE(ok) << "an address with no chip is refused";
}

// "/dev/uio1" missing at start: said once, looked for again every second without spinning a core,
// and used as soon as it appears.
TEST_F(PlatformFaults, MissingUioIsSaidOnceAndUsedOnceItAppears)
{
    const std::string uio = m_root / "/dev/uio1";
    char target[256] = {};
    const ssize_t length = ::readlink(uio.c_str(), target, sizeof target - 1);
    ASSERT_GT(length, 0);
    ASSERT_EQ(::unlink(uio.c_str()), 0);
    start_daemon();
    ASSERT_TRUE(wait_for_log("can't open!", 1)) << log();
    m_sim->command("std 12 20");  // queued: no interrupt is armed without the device
    EXPECT_FALSE(wait_until([&] { return count_of(log(), kFormatDone) > 0; }, 2s));

    ASSERT_EQ(::symlink(target, uio.c_str()), 0);
    ASSERT_TRUE(wait_for_log(kFormatDone, 1)) << log();
    EXPECT_EQ(count_of(log(), "can't open!"), 1U);
    EXPECT_TRUE(daemon_running());
}

}  // namespace
