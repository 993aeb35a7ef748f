#include "registry.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

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

// Field 22 of /proc/<pid>/stat: when the process started (clock ticks since boot). Empty when
// there is no such process.
std::string start_time(const std::string& pid)
{
    std::string stat;
    if (!read_file("/proc/" + pid + "/stat", stat)) {
        return {};
    }
    // The command name (field 2) is in parentheses and may hold blanks: count from its end.
    std::size_t at = stat.rfind(')');
    for (int field_number = 2; field_number < 22 && at != std::string::npos; ++field_number) {
        at = stat.find(' ', at + 1);
    }
    if (at == std::string::npos) {
        return {};
    }
    const std::size_t end = stat.find(' ', at + 1);
    return stat.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
}

bool process_alive(const std::string& pid_text, const std::string& started)
{
    char* end = nullptr;
    const long pid = std::strtol(pid_text.c_str(), &end, 10);
    if (pid <= 0 || end == pid_text.c_str() || *end != '\0' || started.empty()) {
        return false;
    }
    // This process's own entries are alive (and its /proc view may be an emulator's).
    return pid == static_cast<long>(::getpid()) || start_time(pid_text) == started;
}

// The folder may be trusted: a directory (not a link) of this user's that nobody else may write.
bool folder_trusted(const std::string& folder)
{
    struct stat status {};
    if (::lstat(folder.c_str(), &status) != 0) {
        return false;
    }
    if (S_ISDIR(status.st_mode) && status.st_uid == ::getuid() && (status.st_mode & 077) == 0) {
        return true;
    }
    static std::atomic<bool> said{false};
    if (!said.exchange(true)) {
        log_line("registry folder " + folder +
                 " is not a directory of this user's alone (mode 0700); not used");
    }
    return false;
}

}  // namespace

std::string host_name()
{
    char text[256] = {};
    if (::gethostname(text, sizeof text - 1) != 0) {
        return {};
    }
    return text;
}

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
    if (!folder_trusted(folder)) {
        return;
    }
    const std::string port = address.substr(address.rfind(':') + 1);
    const std::string path = folder + "/" + std::to_string(::getpid()) + "-" + port + kSuffix;
    const std::string content = "name=" + one_line(name) + "\naddress=" + address +
                                "\ngroups=" + one_line(groups) +
                                "\npid=" + std::to_string(::getpid()) +
                                "\nstart=" + start_time(std::to_string(::getpid())) + "\n";
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

std::vector<SourceEntry> registry_senders()
{
    std::vector<SourceEntry> senders;
    const std::string folder = registry_directory();
    if (!folder_trusted(folder)) {
        return senders;
    }
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) {
        return senders;
    }
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
        // A file left behind by a process that died (or whose pid now names another) is skipped.
        SourceEntry sender{host + " (" + field(content, "name") + ")", field(content, "address"),
                           field(content, "groups")};
        if (!sender.address.empty() &&
            process_alive(field(content, "pid"), field(content, "start"))) {
            senders.push_back(std::move(sender));
        }
    }
    return senders;
}

bool find_sender(const std::string& name, std::string& address)
{
    const std::string wanted = one_line(name);
    for (const SourceEntry& sender : registry_senders()) {
        if (name_matches(wanted, sender.name)) {
            address = sender.address;
            return true;
        }
    }
    return false;
}

}  // namespace vantor::ndi
