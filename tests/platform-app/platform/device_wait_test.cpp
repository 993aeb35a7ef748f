// The daemon's waits on devices end: an I2C bus model that never answers fails the transfer, and
// an interrupt device replaced behind its path is heard again.

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/i2c/i2c.h"
#include "platform/uio/uio_interrupt.h"
#include "support/temp_board_root.h"
#include "support/wait_until.h"
#include "vantor/unique_fd.h"

namespace {

using namespace std::chrono_literals;
using vantor::UniqueFd;
using vantor::test::TempBoardRoot;
using vantor::test::wait_until;

TEST(DeviceWaits, SilentI2cBusModelFailsTheTransfer)
{
    TempBoardRoot root;
    root.make_dir("/dev");
    const std::string path = root / "/dev/i2c-0";
    // A bus model that takes connections and never answers.
    UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    struct sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(::bind(listener.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener.get(), 4), 0);

    std::atomic<bool> done{false};
    bool written = true;
    ::testing::internal::CaptureStdout();
    std::thread caller([&] {
        I2c bus;
        written = bus.WriteByte(0x3B, 0x1A, 0x01);
        done = true;
    });
    const bool ended = wait_until([&] { return done.load(); }, 5s);
    listener.reset();  // ends a transfer still waiting, so the thread can be joined
    caller.join();
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(ended) << "the first request waited with no time-out";
    EXPECT_FALSE(written);
    EXPECT_NE(out.find("ERR:WriteByte->ioctl->I2C_RETRIES"), std::string::npos) << out;
}

// A raw pseudo-terminal standing in for the UIO device: 4 bytes written to the master are one
// interrupt.
struct FakeUio {
    UniqueFd master;
    std::string slave;

    FakeUio() : master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC))
    {
        if (!master || ::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0) {
            return;
        }
        char name[128] = {};
        if (::ptsname_r(master.get(), name, sizeof name) != 0) {
            return;
        }
        slave = name;
        termios tio{};
        if (::tcgetattr(master.get(), &tio) == 0) {
            ::cfmakeraw(&tio);
            tio.c_cc[VMIN] = 4;
            tio.c_cc[VTIME] = 0;
            (void)::tcsetattr(master.get(), TCSANOW, &tio);
        }
    }
    void fire() const
    {
        const uint32_t count = 1;
        (void)!::write(master.get(), &count, sizeof count);
    }
};

TEST(DeviceWaits, ReplacedUioDeviceIsHeardAgain)
{
    TempBoardRoot root;
    root.make_dir("/dev");
    const std::string link = root / "/dev/uio1";
    auto first = std::make_unique<FakeUio>();
    ASSERT_FALSE(first->slave.empty());
    ASSERT_EQ(::symlink(first->slave.c_str(), link.c_str()), 0);

    UioInterrupt uio(link);
    std::atomic<int> interrupts{0};
    std::atomic<bool> stop{false};
    std::atomic<bool> ended{false};
    ::testing::internal::CaptureStdout();
    std::thread waiter([&] {
        while (!stop) {
            if (uio.Wait()) {
                ++interrupts;
            }
        }
        ended = true;
    });
    const auto heard = [&](const FakeUio& device, int count) {
        return wait_until(
            [&] {
                device.fire();
                return interrupts.load() >= count;
            },
            5s, 20ms);
    };
    EXPECT_TRUE(heard(*first, 1));
    // The device goes away (a restarted driver or FPGA model) and comes back at the same path.
    auto second = std::make_unique<FakeUio>();
    ASSERT_EQ(::unlink(link.c_str()), 0);
    ASSERT_EQ(::symlink(second->slave.c_str(), link.c_str()), 0);
    const int before = interrupts.load();
    first.reset();
    EXPECT_TRUE(heard(*second, before + 1)) << "still waiting on the old device";

    // The waiter ends at its next pass: interrupts are fired until it has.
    stop = true;
    EXPECT_TRUE(wait_until(
        [&] {
            second->fire();
            return ended.load();
        },
        5s, 20ms));
    waiter.join();
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("opening it again"), std::string::npos) << out;
}

}  // namespace
