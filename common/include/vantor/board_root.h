#pragma once

#include <string>

namespace vantor {

// Name of the environment variable that holds the board root.
inline constexpr const char* kBoardRootVariable = "VANTOR_ROOT";

// Resolves a fixed system path ("/etc/...", "/dev/...", "/tmp/...") to the path the program opens.
//
// On the camera VANTOR_ROOT is unset or empty and the path is returned unchanged. On the virtual
// board it names a directory that stands in for "/": "/etc/hostname" becomes
// "$VANTOR_ROOT/etc/hostname". Trailing slashes of the root are ignored. Only absolute paths are
// fixed system paths; a relative path is returned unchanged. The variable is read on every call,
// so a test may point the same process at different roots one after another.
std::string board_path(const char* system_path);
std::string board_path(const std::string& system_path);

}  // namespace vantor
