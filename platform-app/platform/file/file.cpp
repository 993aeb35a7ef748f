#include "platform/file/file.h"

#include <cstdio>
#include <memory>
#include <sys/types.h>

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File open_file(const char* name, const char* mode)
{
    File f(name != nullptr ? std::fopen(name, mode) : nullptr);
    if (!f) {
        std::printf("ERR: fopen %s\n", name != nullptr ? name : "(null)");
    }
    return f;
}

}  // namespace

int FileRead(const char* name, uint32_t offset, uint8_t* buffer, uint32_t size, uint32_t* actual)
{
    if (actual != nullptr) {
        *actual = 0;
    }
    File f = open_file(name, "rb");
    if (!f) {
        return 1;
    }
    if (::fseeko(f.get(), static_cast<off_t>(offset), SEEK_SET) != 0) {
        std::printf("ERR: fseek\n");
        return 1;
    }
    const size_t n = buffer != nullptr ? std::fread(buffer, 1, size, f.get()) : 0;
    if (actual != nullptr) {
        *actual = static_cast<uint32_t>(n);
    }
    return 0;
}

int FileWrite(const char* name, uint32_t /*offset*/, const uint8_t* buffer, uint32_t size,
              uint32_t* actual)
{
    if (actual != nullptr) {
        *actual = 0;
    }
    File f = open_file(name, "ab");
    if (!f) {
        return 1;
    }
    const size_t n = buffer != nullptr ? std::fwrite(buffer, 1, size, f.get()) : 0;
    if (actual != nullptr) {
        *actual = static_cast<uint32_t>(n);
    }
    // Closing flushes: a failure there means the bytes did not all reach the file.
    if (std::fclose(f.release()) != 0 || n != size) {
        std::printf("ERR: fwrite %s\n", name);
        return 1;
    }
    return 0;
}

int64_t FileGetSizeByte(const char* name)
{
    File f = open_file(name, "rb");
    if (!f) {
        return -1;
    }
    if (::fseeko(f.get(), 0, SEEK_END) != 0) {
        std::printf("ERR: fseek\n");
        return -1;
    }
    const off_t size = ::ftello(f.get());
    return size < 0 ? -1 : static_cast<int64_t>(size);
}
