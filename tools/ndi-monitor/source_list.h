#pragma once

#include "options.h"

namespace ndi_monitor {

// --list: prints one line per source seen within the time asked for, "NAME  ADDRESS  groups:
// GROUPS" (sorted by name), or "no sources"; returns the exit status.
int list_sources(const Options& options);

}  // namespace ndi_monitor
