#include "support/temp_board_root.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "vantor/board_root.h"

namespace vantor::test {

TempDir::TempDir()
{
    std::string templ = std::filesystem::temp_directory_path().string() + "/vantor-test-XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr) {
        std::abort();
    }
    m_path = templ;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : m_name(name)
{
    const char* previous = std::getenv(name);
    m_had_previous = previous != nullptr;
    if (m_had_previous) {
        m_previous = previous;
    }
    ::setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv()
{
    if (m_had_previous) {
        ::setenv(m_name.c_str(), m_previous.c_str(), 1);
    } else {
        ::unsetenv(m_name.c_str());
    }
}

TempBoardRoot::TempBoardRoot() : m_env(kBoardRootVariable, m_dir.path()) {}

void TempBoardRoot::make_dir(const std::string& system_path) const
{
    std::error_code ec;
    std::filesystem::create_directories(m_dir.path() + system_path, ec);
}

void write_text(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string read_text(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace vantor::test
