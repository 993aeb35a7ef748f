#include "vantor/board_root.h"

#include <cstdlib>

namespace vantor {

std::string board_path(const char* system_path)
{
    if (system_path == nullptr) {
        return {};
    }
    std::string path(system_path);
    if (path.empty() || path.front() != '/') {
        return path;
    }
    const char* root_env = std::getenv(kBoardRootVariable);
    if (root_env == nullptr) {
        return path;
    }
    std::string root(root_env);
    while (!root.empty() && root.back() == '/') {
        root.pop_back();
    }
    if (root.empty()) {
        // Unset, empty or "/" all mean the real root.
        return path;
    }
    return root + path;
}

std::string board_path(const std::string& system_path)
{
    return board_path(system_path.c_str());
}

}  // namespace vantor
