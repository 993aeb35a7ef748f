#include "static_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "vantor/unique_fd.h"

namespace {

constexpr off_t kMaxFile = off_t{1024} * 1024;

struct file_type {
    const char* extension;
    const char* content_type;
};

constexpr file_type kTypes[] = {
    {".html", "text/html; charset=utf-8"},
    {".css", "text/css; charset=utf-8"},
    {".js", "text/javascript; charset=utf-8"},
    {".png", "image/png"},
    {".svg", "image/svg+xml"},
};

bool name_character_ok(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

const char* type_of(const std::string& name)
{
    for (const file_type& type : kTypes) {
        const std::string extension = type.extension;
        if (name.size() > extension.size() &&
            name.compare(name.size() - extension.size(), extension.size(), extension) == 0) {
            const std::string stem = name.substr(0, name.size() - extension.size());
            for (const char c : stem) {
                if (!name_character_ok(c)) {
                    return nullptr;
                }
            }
            return type.content_type;
        }
    }
    return nullptr;
}

}  // namespace

bool load_page_file(const std::string& folder, const std::string& url_path, std::string& content,
                    std::string& content_type)
{
    if (url_path.empty() || url_path[0] != '/') {
        return false;
    }
    const std::string name = url_path == "/" ? "index.html" : url_path.substr(1);
    const char* type = type_of(name);
    if (type == nullptr) {
        return false;
    }
    const vantor::UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) {
        return false;
    }
    const vantor::UniqueFd fd(
        ::openat(dir.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFile) {
        return false;
    }
    content.assign(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::read(fd.get(), &content[done], content.size() - done);
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    content_type = type;
    return true;
}
