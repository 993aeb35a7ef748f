#pragma once

// Everything fpga-sim models: the register windows, the command byte channel and the I2C bus.

#include "command_channel.h"
#include "fpga_model.h"
#include "i2c_bus_model.h"

struct FpgaBoard {
    FpgaModel model;
    CommandChannel channel;
    I2cBusModel bus;
};
