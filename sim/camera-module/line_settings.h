#pragma once

#include <termios.h>

#include <string>

namespace camsim {

// Why a line's settings are not 9600 baud 8N1 raw, the only settings the module's line works
// with: the differences as short names joined by commas ("input-speed,icanon"), or "" when there
// are none.
std::string line_settings_fault(const termios& settings);

}  // namespace camsim
