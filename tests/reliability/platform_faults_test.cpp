// Hardware faults of the platform daemon's side of the board, injected on fpga-sim: an I2C chip
// that stops answering, and the command channel's UIO device missing at start.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform_daemon_test.h"
#include "support/count_of.h"
#include "support/wait_until.h"

namespace {

using namespace std::chrono_literals;
using vantor::test::count_of;
using vantor::test::wait_until;

const std::string kFormatDone = "Change UHDSDI STD Format = 20\n";

bool has_event(const std::vector<std::string>& events, const std::string& part)
{
    return std::any_of(events.begin(), events.end(), [&](const std::string& event) {
        return event.find(part) != std::string::npos;
    });
}

class PlatformFaults : public vantor::test::PlatformDaemonTest {};

// The transmitter (0x3B) stops answering: each of its transactions fails with one line, the rest
// of the format change (receiver, both frame buffers) is carried out, and once the chip answers
// again the next format change programs it.
TEST_F(PlatformFaults, ChipNotAnsweringFailsOnlyItsOwnStepsOfAFormatChange)
{
    start_daemon();
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
    launch_daemon();
    ASSERT_TRUE(wait_for_log("can't open!", 1)) << log();
    m_sim->command("std 12 20");  // queued: no interrupt is armed without the device
    EXPECT_FALSE(wait_until([&] { return count_of(log(), kFormatDone) > 0; }, 2s));

    ASSERT_EQ(::symlink(target, uio.c_str()), 0);
    ASSERT_TRUE(wait_for_log(kFormatDone, 1)) << log();
    EXPECT_EQ(count_of(log(), "can't open!"), 1U);
    EXPECT_TRUE(daemon_running());
}

}  // namespace
