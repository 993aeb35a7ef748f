#include "registry.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "log.h"
#include "vantor/file_io.h"

namespace vantor::ndi {

namespace {

constexpr const char* kSuffix = ".sender";

// Names go into a line-based file: control characters become blanks.
std::string one_line(std::string text)
{
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20) {
            c = ' ';
        }
    }
    return text;
}

std::string field(const std::string& content, const std::string& key)
{
    const std::string prefix = key + "=";
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos) {
            end = content.size();
        }
        if (content.compare(start, prefix.size(), prefix) == 0) {
            return content.substr(start + prefix.size(), end - start - prefix.size());
        }
        start = end + 1;
    }
    return {};
}

bool process_alive(const std::string& pid_text)
{
    char* end = nullptr;
    const long pid = std::strtol(pid_text.c_str(), &end, 10);
    if (pid <= 0 || end == pid_text.c_str() || *end != '\0') {
        return false;
    }
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

std::string host_name()
{
    char text[256] = {};
    if (::gethostname(text, sizeof text - 1) != 0) {
        return {};
    }
    return text;
}

}  // namespace

std::string registry_directory()
{
    const char* chosen = std::getenv("VANTOR_NDI_REGISTRY");
    if (chosen != nullptr && *chosen != '\0') {
        return chosen;
    }
    const char* tmp = std::getenv("TMPDIR");
    const std::string base = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
    return base + "/vantor-ndi-" + std::to_string(::getuid());
}

RegistryEntry::RegistryEntry(const std::string& name, const std::string& groups,
                             const std::string& address)
{
    const std::string folder = registry_directory();
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        log_line("sender '" + name + "': cannot create the registry folder " + folder + ": " +
                 std::strerror(errno) + "; it can be reached by address only");
        return;
    }
    const std::string port = address.substr(address.rfind(':') + 1);
    const std::string path = folder + "/" + std::to_string(::getpid()) + "-" + port + kSuffix;
    const std::string content = "name=" + one_line(name) + "\naddress=" + address +
                                "\ngroups=" + one_line(groups) +
                                "\npid=" + std::to_string(::getpid()) + "\n";
    if (!replace_file_atomically(path, content)) {
        log_line("sender '" + name + "': cannot write " + path +
                 "; it can be reached by address only");
        return;
    }
    m_path = path;
}

RegistryEntry::~RegistryEntry()
{
    if (!m_path.empty()) {
        ::unlink(m_path.c_str());
    }
}

bool find_sender(const std::string& name, std::string& address)
{
    const std::string folder = registry_directory();
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) {
        return false;
    }
    const std::string wanted = one_line(name);
    const std::string host = host_name();
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string file = entry->d_name;
        const std::size_t suffix_length = std::strlen(kSuffix);
        if (file.size() <= suffix_length ||
            file.compare(file.size() - suffix_length, suffix_length, kSuffix) != 0) {
            continue;
        }
        std::string content;
        std::string path = folder;
        path.append("/").append(file);
        if (!read_file(path, content)) {
            continue;
        }
        const std::string sender = field(content, "name");
        std::string full_name = host;
        full_name.append(" (").append(sender).append(")");
        if (sender != wanted && full_name != wanted) {
            continue;
        }
        // A file left behind by a process that died is skipped.
        if (!process_alive(field(content, "pid"))) {
            continue;
        }
        address = field(content, "address");
        return !address.empty();
    }
    return false;
}

}  // namespace vantor::ndi
