#include "platform/gpio/gpio.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "vantor/board_root.h"

namespace {

// Writes exactly `size` bytes of `data` to the file at `path`. Returns false after printing
// "<what>, num = <number>. open failure" (or "write failure") when that fails.
bool write_exactly(const std::string& path, const char* data, size_t size, const char* what,
                   int number)
{
    vantor::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    if (!fd) {
        std::printf("%s, num = %d. open failure \n", what, number);
        return false;
    }
    if (::write(fd.get(), data, size) != static_cast<ssize_t>(size)) {
        std::printf("%s, num = %d. write failure \n", what, number);
        return false;
    }
    return true;
}

}  // namespace

Gpio::Gpio(unsigned pin, GpioDirE dir, GpioValueE value)
    : gpio_num(906 + pin), gpio_dir(dir), gpio_value(value)
{
    if (gpio_num < sysfs_gpio_minnum || gpio_num > sysfs_gpio_maxnum) {
        std::printf("err: init_sysfs_gpio, num = %d. cross the boundary \n",
                    static_cast<int>(gpio_num));
    }
    const std::string number = std::to_string(gpio_num);
    const std::string line = "/sys/class/gpio/gpio" + number;
    sysfs_gpio_export_path = vantor::board_path("/sys/class/gpio/export");
    sysfs_gpio_unexport_path = vantor::board_path("/sys/class/gpio/unexport");
    sysfs_gpio_direction_path = vantor::board_path(line + "/direction");
    sysfs_gpio_value_path = vantor::board_path(line + "/value");

    // The number as sysfs takes it: three digits and the terminating zero (4 bytes).
    char text[16] = {};
    std::snprintf(text, sizeof text, "%u", gpio_num);
    const auto p = static_cast<int>(pin);

    // Unexport first, so that a line left exported by an earlier run is taken over afresh.
    (void)write_exactly(sysfs_gpio_unexport_path, text, 4, "err: sysfs_gpio_unexport_path", p);
    if (write_exactly(sysfs_gpio_export_path, text, 4, "err: init_sysfs_gpio", p)) {
        std::printf("OK: export, num = %d. \n", p);
    }

    sysfs_gpio_value_fp.reset(::open(sysfs_gpio_value_path.c_str(), O_RDWR | O_CLOEXEC));
    if (!sysfs_gpio_value_fp) {
        std::printf("err: sysfs_gpio_value_path-open-filure.\n");
    }
    if (dir == GPIO_DIR_OUT) {
        SetGpioDir(GPIO_DIR_OUT);
        SetGpioValue(value);
    }
}

Gpio::Gpio(unsigned pin, GpioDirE dir) : Gpio(pin, dir, GPIO_LEVEL_LOW) {}

Gpio::~Gpio()
{
    if (sysfs_gpio_value_fp) {
        sysfs_gpio_value_fp.reset();
        std::printf("close : sysfs_gpio_value_fp\n");
    }
}

void Gpio::SetGpioDir(GpioDirE dir)
{
    vantor::UniqueFd fd(::open(sysfs_gpio_direction_path.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd) {
        std::printf("err: sysfs_gpio_direction_path-open-filure.\n");
        return;
    }
    // Always 4 bytes: "out" or "in", padded with zero bytes.
    static const char kOut[4] = {'o', 'u', 't', '\0'};
    static const char kIn[4] = {'i', 'n', '\0', '\0'};
    if (::write(fd.get(), dir == GPIO_DIR_OUT ? kOut : kIn, 4) != 4) {
        std::printf("err: sysfs_gpio_direction_path-write-failure \n");
        return;
    }
    gpio_dir = dir;
}

void Gpio::SetGpioValue(GpioValueE value)
{
    vantor::UniqueFd fd(::open(sysfs_gpio_value_path.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd) {
        std::printf("err: sysfs_gpio_value_path-open-filure.\n");
        return;
    }
    const char text[2] = {value == GPIO_LEVEL_HIGH ? '1' : '0', '\0'};
    if (::write(fd.get(), text, 2) != 2) {
        std::printf("err: sysfs_gpio_value_path-write-failure \n");
        return;
    }
    gpio_value = value;
}

GpioValueE Gpio::GetGpioValue()
{
    vantor::UniqueFd fd(::open(sysfs_gpio_value_path.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd) {
        std::printf("err: sysfs_gpio_value_path-open-filure.\n");
        return GPIO_LEVEL_LOW;
    }
    unsigned char byte = 0;
    if (::read(fd.get(), &byte, 1) != 1) {
        return GPIO_LEVEL_LOW;
    }
    return (byte & 1U) != 0 ? GPIO_LEVEL_HIGH : GPIO_LEVEL_LOW;
}
