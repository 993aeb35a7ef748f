#include "support/board_tools.h"

#include <sys/stat.h>

#include <cstdlib>

namespace vantor::test {

std::string tools_first_in_path(const TempDir& tools)
{
    const char* path = std::getenv("PATH");
    return tools.path() + ":" + (path != nullptr ? path : "/usr/bin:/bin");
}

void write_tool(const TempDir& dir, const std::string& name, const std::string& output)
{
    const std::string path = dir / name;
    write_text(path, "#!/bin/sh\nprintf '" + output + "'\n");
    ::chmod(path.c_str(), 0755);
}

}  // namespace vantor::test
