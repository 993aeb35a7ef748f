#pragma once

#include <string>

namespace vantor::test {

// A fresh, empty directory under the system's temporary folder, removed with everything in it when
// the object goes out of scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    // `relative` below this directory.
    std::string operator/(const std::string& relative) const { return m_path + "/" + relative; }

private:
    std::string m_path;
};

// Sets an environment variable for the life of the object and restores the previous value after.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::string m_previous;
    bool m_had_previous;
};

// A temporary board root: a TempDir that VANTOR_ROOT names while the object lives. `make_dirs`
// creates folders below it ("etc", "tmp", ...).
class TempBoardRoot {
public:
    TempBoardRoot();
    const std::string& path() const { return m_dir.path(); }
    // The real path of a system path on this board ("/etc/x" -> "<root>/etc/x").
    std::string operator/(const std::string& system_path) const
    {
        return m_dir.path() + system_path;
    }
    void make_dir(const std::string& system_path) const;

private:
    TempDir m_dir;
    ScopedEnv m_env;
};

// Helpers for file contents in tests.
void write_text(const std::string& path, const std::string& text);
std::string read_text(const std::string& path);

}  // namespace vantor::test
