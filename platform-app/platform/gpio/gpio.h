#pragma once

// One sysfs GPIO line ("/sys/class/gpio/...", below the board root). Failures are printed and never
// stop the caller: a line that cannot be exported stays uncontrolled.

#include <cstdint>
#include <string>

#include "vantor/unique_fd.h"

enum GpioDirE : uint32_t { GPIO_DIR_OUT = 0, GPIO_DIR_IN = 1 };
enum GpioValueE : uint32_t { GPIO_LEVEL_LOW = 0, GPIO_LEVEL_HIGH = 1 };

class Gpio {
public:
    // Line `pin` of the controller (sysfs number 906 + pin). The line is unexported, exported again
    // and, for an output, set to `value`.
    Gpio(unsigned pin, GpioDirE dir, GpioValueE value);
    // The same with an output starting low.
    Gpio(unsigned pin, GpioDirE dir);
    ~Gpio();
    Gpio(const Gpio&) = delete;
    Gpio& operator=(const Gpio&) = delete;

    void SetGpioDir(GpioDirE dir);
    void SetGpioValue(GpioValueE value);
    // Level read from the value file; low when it cannot be read.
    GpioValueE GetGpioValue();

    std::string sysfs_gpio_export_path;
    std::string sysfs_gpio_unexport_path;
    std::string sysfs_gpio_direction_path;
    std::string sysfs_gpio_value_path;
    vantor::UniqueFd sysfs_gpio_value_fp;  // the value file, opened at construction
    uint32_t gpio_num;
    GpioDirE gpio_dir;
    GpioValueE gpio_value;
    uint32_t sysfs_gpio_minnum = 906;   // first sysfs number of the controller
    uint32_t sysfs_gpio_maxnum = 1023;  // last
};
