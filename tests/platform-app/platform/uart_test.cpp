#include "platform/uart/uart.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "support/temp_board_root.h"
#include "vantor/unique_fd.h"

namespace {

using vantor::test::TempBoardRoot;

// A pseudo-terminal whose slave stands in for "/dev/ttyPS1" on a temporary board root.
class UartOnPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        master.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
        ASSERT_TRUE(master);
        ASSERT_EQ(::grantpt(master.get()), 0);
        ASSERT_EQ(::unlockpt(master.get()), 0);
        root.make_dir("/dev");
        ASSERT_EQ(::symlink(::ptsname(master.get()), (root / "/dev/ttyPS1").c_str()), 0);
    }

    // Reads one byte from the master, waiting up to 10 s.
    int read_master()
    {
        struct pollfd pfd {
            master.get(), POLLIN, 0
        };
        if (::poll(&pfd, 1, 10000) != 1) {
            return -1;
        }
        unsigned char byte = 0;
        return ::read(master.get(), &byte, 1) == 1 ? byte : -1;
    }

    TempBoardRoot root;
    vantor::UniqueFd master;
};

TEST_F(UartOnPty, OpensRawAt115200AndCarriesBytesBothWays)
{
    ::testing::internal::CaptureStdout();
    uart port;
    const std::string out = ::testing::internal::GetCapturedStdout();
    ASSERT_GE(port.fd, 0) << out;
    EXPECT_NE(out.find("uart Serial Port init DONE"), std::string::npos) << out;

    struct termios tio {};
    ASSERT_EQ(::tcgetattr(port.fd, &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), speed_t{B115200});
    EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t{CS8});
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB), tcflag_t{0});
    EXPECT_EQ(tio.c_lflag & ICANON, tcflag_t{0});
    EXPECT_EQ(tio.c_cc[VTIME], 5);
    EXPECT_EQ(tio.c_cc[VMIN], 0);

    // 0x0A and 0x0D pass unchanged: the line is raw.
    for (const uint8_t byte : {uint8_t{0x55}, uint8_t{0x0A}, uint8_t{0x0D}, uint8_t{0xFF}}) {
        EXPECT_EQ(port.uart_write(byte), 1);
        EXPECT_EQ(read_master(), byte);
    }
    EXPECT_FALSE(port.uart_check_locked());

    const unsigned char reply[] = {0x90, 0x41, 0xFF};
    ASSERT_EQ(::write(master.get(), reply, sizeof reply), 3);
    uint8_t buffer[8] = {};
    int got = 0;
    while (got < 3) {
        const int n = port.uart_read(buffer + got, sizeof buffer - got);
        ASSERT_GT(n, 0);
        got += n;
    }
    EXPECT_EQ(buffer[0], 0x90);
    EXPECT_EQ(buffer[1], 0x41);
    EXPECT_EQ(buffer[2], 0xFF);
}

TEST_F(UartOnPty, ReadGivesUpAfterTwoSecondsOfSilence)
{
    ::testing::internal::CaptureStdout();
    uart port;
    (void)::testing::internal::GetCapturedStdout();
    uint8_t buffer[4] = {};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.uart_read(buffer, sizeof buffer), -1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1900));
}

TEST(Uart, MissingPortIsReportedAndEveryOperationFails)
{
    TempBoardRoot root;
    ::testing::internal::CaptureStdout();
    uart port;
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Can't Open Serial Port"), std::string::npos) << out;
    uint8_t byte = 0;
    EXPECT_EQ(port.uart_write(1), -1);
    EXPECT_EQ(port.uart_read(&byte, 1), -1);
    EXPECT_EQ(port.uart_config(115200, 8, 0, 1), -1);
}

}  // namespace
