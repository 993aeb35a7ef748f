#include "platform/mmap/mmap.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "vantor/board_root.h"
#include "vantor/unique_fd.h"

namespace {

size_t page_size()
{
    const long size = ::sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<size_t>(size) : 4096U;
}

// On the virtual board "/dev/mem" is a regular file: touching a mapped page beyond its end raises
// SIGBUS, so a window the file does not cover is refused instead of mapped.
bool file_covers(int fd, size_t phy_addr, size_t byte_size)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        return true;  // a device: the kernel decides what can be mapped
    }
    const auto file_size = static_cast<unsigned long long>(st.st_size);
    return static_cast<unsigned long long>(phy_addr) + byte_size <= file_size;
}

void* map_window(int fd, size_t length, off_t file_offset, size_t phy_addr)
{
    void* p =
        ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_LOCKED, fd, file_offset);
    if (p == MAP_FAILED && (errno == EAGAIN || errno == EPERM)) {
        // No right to lock this much memory (not root): map without the lock.
        std::printf("MemBlock: cannot lock 0x%zx bytes at 0x%zx in memory (%s), mapped unlocked\n",
                    length, phy_addr, std::strerror(errno));
        p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, file_offset);
    }
    return p == MAP_FAILED ? nullptr : p;
}

}  // namespace

MemBlock::MemBlock(size_t phy_addr_, size_t size, bool init_en, int init_value)
    : phy_addr(phy_addr_), byte_size(size)
{
    const std::string path = vantor::board_path("/dev/mem");
    vantor::UniqueFd fd(::open(path.c_str(), O_RDWR | O_SYNC | O_CLOEXEC));
    if (!fd) {
        std::perror("Failed to open /dev/mem \n");
        std::exit(1);
    }

    const size_t page = page_size();
    offset = phy_addr % page;
    // One page more than the whole pages of the size, and always enough to reach the window's end
    // from the page boundary below a window that is not page-aligned.
    max_size = page * (byte_size / page + 1);
    const size_t needed = (offset + byte_size + page - 1) / page * page;
    if (needed > max_size) {
        max_size = needed;
    }

    if (!file_covers(fd.get(), phy_addr, byte_size)) {
        std::printf("Could not mmap: %s ends before the window 0x%zx + 0x%zx\n", path.c_str(),
                    phy_addr, byte_size);
        return;
    }
    void* p = map_window(fd.get(), max_size, static_cast<off_t>(phy_addr - offset), phy_addr);
    if (p == nullptr) {
        std::perror("Could not mmap");
        return;
    }
    vir_addr = static_cast<char*>(p);
    if (init_en) {
        init_val(init_value);
    }
}

MemBlock::~MemBlock()
{
    std::printf("Run : MemBlock::~MemBlock() phy.addr = 0x%zx\n", phy_addr);
    if (vir_addr != nullptr && ::munmap(vir_addr, max_size) != 0) {
        std::perror("Could not munmap");
    }
}

size_t MemBlock::addr() const
{
    return vir_addr == nullptr ? 0 : reinterpret_cast<size_t>(vir_addr + offset);
}

char* MemBlock::relative_addr() const
{
    return vir_addr == nullptr ? nullptr : vir_addr + offset;
}

char* MemBlock::relative_addr(size_t new_phy_addr) const
{
    if (vir_addr == nullptr || new_phy_addr < phy_addr || new_phy_addr - phy_addr >= byte_size) {
        return nullptr;
    }
    return vir_addr + (new_phy_addr - phy_addr) + offset;
}

void MemBlock::init_val(int val)
{
    if (vir_addr != nullptr) {
        std::memset(vir_addr + offset, val, byte_size);
    }
}

mem_map::mem_map()
{
    for (uint32_t i = 0; i < MAX_Mem_Map_ID; ++i) {
        for (const Mem_Map_Str& row : Mem_Map_Str_Table) {
            if (row.ID != i) {
                continue;
            }
            Blocks[i] = std::make_unique<MemBlock>(row.PhyBaseAddr, row.SizeByte, row.Init_En,
                                                   row.Init_Value);
            std::printf(" new Blocks[i] : i = %u  phy.addr =  %zx  vir.addr =  %p\n", i,
                        row.PhyBaseAddr, static_cast<void*>(Blocks[i]->vir_addr));
            break;
        }
    }
}
