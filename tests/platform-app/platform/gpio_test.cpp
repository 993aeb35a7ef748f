#include "platform/gpio/gpio.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_board_root.h"

namespace {

using vantor::test::read_text;
using vantor::test::TempBoardRoot;
using vantor::test::write_text;

// A board root with the sysfs GPIO files of one line as plain files.
class GpioLine : public ::testing::Test {
protected:
    void make_line(unsigned number)
    {
        const std::string line = "/sys/class/gpio/gpio" + std::to_string(number);
        root.make_dir(line);
        write_text(root / "/sys/class/gpio/export", "");
        write_text(root / "/sys/class/gpio/unexport", "");
        write_text(root / (line + "/direction"), "");
        write_text(root / (line + "/value"), "");
    }
    std::string file(const std::string& system_path) { return read_text(root / system_path); }

    TempBoardRoot root;
};

TEST_F(GpioLine, OutputLineIsExportedDirectedAndSet)
{
    make_line(957);
    ::testing::internal::CaptureStdout();
    {
        Gpio rst(51, GPIO_DIR_OUT, GPIO_LEVEL_HIGH);
        EXPECT_EQ(rst.gpio_num, 957U);
        EXPECT_EQ(rst.sysfs_gpio_direction_path, root / "/sys/class/gpio/gpio957/direction");
        EXPECT_EQ(rst.sysfs_gpio_value_path, root / "/sys/class/gpio/gpio957/value");
        // The number as three digits and a zero byte, to unexport (an earlier run's line) and to
        // export.
        EXPECT_EQ(file("/sys/class/gpio/unexport"), std::string("957\0", 4));
        EXPECT_EQ(file("/sys/class/gpio/export"), std::string("957\0", 4));
        EXPECT_EQ(file("/sys/class/gpio/gpio957/direction"), std::string("out\0", 4));
        EXPECT_EQ(file("/sys/class/gpio/gpio957/value"), std::string("1\0", 2));
        EXPECT_EQ(rst.GetGpioValue(), GPIO_LEVEL_HIGH);

        rst.SetGpioValue(GPIO_LEVEL_LOW);
        EXPECT_EQ(file("/sys/class/gpio/gpio957/value"), std::string("0\0", 2));
        EXPECT_EQ(rst.GetGpioValue(), GPIO_LEVEL_LOW);

        rst.SetGpioDir(GPIO_DIR_IN);
        EXPECT_EQ(file("/sys/class/gpio/gpio957/direction"), std::string("in\0\0", 4));
        rst.SetGpioDir(GPIO_DIR_OUT);
        EXPECT_EQ(file("/sys/class/gpio/gpio957/direction"), std::string("out\0", 4));
    }
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("OK: export, num = 51. \n"), std::string::npos) << out;
    EXPECT_NE(out.find("close : sysfs_gpio_value_fp"), std::string::npos) << out;
    EXPECT_EQ(out.find("err"), std::string::npos) << out;
}

TEST_F(GpioLine, ValueReadsTheLowestBitOfTheFirstByte)
{
    make_line(910);
    ::testing::internal::CaptureStdout();
    Gpio line(4, GPIO_DIR_IN);
    // An input line is exported but neither directed nor driven.
    EXPECT_EQ(file("/sys/class/gpio/gpio910/direction"), "");
    const std::pair<const char*, GpioValueE> cases[] = {{"1\n", GPIO_LEVEL_HIGH},
                                                        {"0\n", GPIO_LEVEL_LOW},
                                                        {"1", GPIO_LEVEL_HIGH},
                                                        {"", GPIO_LEVEL_LOW}};
    for (const auto& [text, level] : cases) {
        write_text(root / "/sys/class/gpio/gpio910/value", text);
        EXPECT_EQ(line.GetGpioValue(), level) << '"' << text << '"';
    }
    (void)::testing::internal::GetCapturedStdout();
}

TEST_F(GpioLine, PinBeyondTheControllerIsReportedAndStillTried)
{
    make_line(1106);
    ::testing::internal::CaptureStdout();
    {
        Gpio line(200, GPIO_DIR_OUT, GPIO_LEVEL_LOW);
    }
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("err: init_sysfs_gpio, num = 1106. cross the boundary \n"),
              std::string::npos)
        << out;
    EXPECT_EQ(file("/sys/class/gpio/export"), "1106");
    EXPECT_EQ(file("/sys/class/gpio/gpio1106/value"), std::string("0\0", 2));
}

TEST_F(GpioLine, MissingSysfsFilesAreReportedAndNothingBreaks)
{
    ::testing::internal::CaptureStdout();
    {
        Gpio line(51, GPIO_DIR_OUT, GPIO_LEVEL_HIGH);
        EXPECT_EQ(line.GetGpioValue(), GPIO_LEVEL_LOW);
    }
    const std::string out = ::testing::internal::GetCapturedStdout();
    for (const char* message : {"err: sysfs_gpio_unexport_path, num = 51. open failure \n",
                                "err: init_sysfs_gpio, num = 51. open failure \n",
                                "err: sysfs_gpio_value_path-open-filure.",
                                "err: sysfs_gpio_direction_path-open-filure."}) {
        EXPECT_NE(out.find(message), std::string::npos) << message << " in\n" << out;
    }
    EXPECT_EQ(out.find("OK: export"), std::string::npos) << out;
    EXPECT_EQ(out.find("close : "), std::string::npos) << out;
}

}  // namespace
