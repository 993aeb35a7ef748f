#include "vantor/file_io.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "vantor/unique_fd.h"

namespace vantor {

namespace {

constexpr mode_t kNewFileMode = 0644;

// Follows a symbolic link so that replacing a linked file keeps the link and changes its target.
std::string resolve_link(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
        return path;
    }
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) {
        return path;
    }
    return resolved;
}

std::string folder_of(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

std::string name_of(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void sync_folder(const std::string& folder)
{
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) {
        // Best effort: some file systems refuse fsync on a folder, the data itself is already safe.
        (void)::fsync(dir.get());
    }
}

}  // namespace

bool write_all(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool send_all(int fd, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::send(fd, bytes, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool read_file(const std::string& path, std::string& content)
{
    content.clear();
    // O_NONBLOCK keeps the open of a FIFO from waiting for a writer; it is refused just below.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) {
        return false;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n == 0) {
            return true;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            content.clear();
            return false;
        }
        content.append(buffer, static_cast<size_t>(n));
    }
}

bool replace_file_atomically(const std::string& path, std::string_view content)
{
    const std::string target = resolve_link(path);

    mode_t mode = kNewFileMode;
    bool existed = false;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            return false;
        }
        mode = st.st_mode & 07777;
        existed = true;
    } else if (errno != ENOENT) {
        return false;
    }

    std::string temp = folder_of(target) + "/." + name_of(target) + ".XXXXXX";
    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd) {
        return false;
    }
    bool ok = write_all(fd.get(), content);
    if (ok && existed) {
        // Keeps the owner when this process may set it (as root on the camera); otherwise the
        // replacement belongs to this process, which is the best that can be done. Done before
        // fchmod because a change of owner clears set-id bits.
        (void)::fchown(fd.get(), st.st_uid, st.st_gid);
    }
    ok = ok && ::fchmod(fd.get(), mode) == 0;
    ok = ok && ::fsync(fd.get()) == 0;
    ok = ::close(fd.release()) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    sync_folder(folder_of(target));
    return true;
}

}  // namespace vantor
