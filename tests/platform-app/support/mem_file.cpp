#include "support/mem_file.h"

#include <fcntl.h>
#include <unistd.h>

#include "vantor/unique_fd.h"

namespace vantor::test {

bool create_mem_file(const std::string& path, uint64_t size)
{
    vantor::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    return fd && ::ftruncate(fd.get(), static_cast<off_t>(size)) == 0;
}

}  // namespace vantor::test
