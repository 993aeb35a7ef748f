#pragma once

// A board root of the fuzz process's own ("vantor-fuzz-XXXXXX" with etc/, dev/, tmp/), set as
// VANTOR_ROOT for the process's lifetime and removed at its end. It lies in /dev/shm where that
// exists: settings files are replaced with a sync, which a memory file system makes cheap.

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "vantor/board_root.h"

namespace vantor::fuzz {

class TempRoot {
public:
    TempRoot()
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string parent = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
        if (std::filesystem::is_directory("/dev/shm")) {
            parent = "/dev/shm";
        }
        std::string pattern = parent + "/vantor-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        m_path = pattern;
        for (const char* folder : {"/etc", "/dev", "/tmp"}) {
            ::mkdir((m_path + folder).c_str(), 0700);
        }
        ::setenv(vantor::kBoardRootVariable, m_path.c_str(), 1);
    }
    ~TempRoot()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

}  // namespace vantor::fuzz
