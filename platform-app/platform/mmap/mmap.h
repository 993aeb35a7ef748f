#pragma once

// Mapping of physical memory windows through "/dev/mem".

#include <cstddef>
#include <memory>

#include "platform/memory_map/memory_map.h"

// One mapped window. The mapping starts at the page boundary at or below the physical address; the
// window itself starts `offset` bytes into it, so a window that is not page-aligned keeps its
// sub-page offset.
class MemBlock {
public:
    // Maps `size` bytes at physical address `phy_addr` of "/dev/mem" (below the board root),
    // shared and locked in memory, and fills them with `init_value` when `init_en` is set.
    //
    // Locking a large window needs the right to lock memory (root, as on the camera). Without it
    // the kernel refuses MAP_LOCKED (EAGAIN or EPERM); the window is then mapped without the lock
    // and a line says so: the mapping works the same, only its pages may be paged out.
    //
    // When "/dev/mem" cannot be opened the process ends with status 1. When the window cannot be
    // mapped, or "/dev/mem" is a regular file (the virtual board's stand-in) that ends before the
    // window does, the failure is reported and the block stays unmapped: addr() is then 0.
    MemBlock(size_t phy_addr, size_t size, bool init_en, int init_value);
    virtual ~MemBlock();
    MemBlock(const MemBlock&) = delete;
    MemBlock& operator=(const MemBlock&) = delete;

    bool mapped() const { return vir_addr != nullptr; }
    // Process address of the window's first byte as an integer; 0 when unmapped.
    size_t addr() const;
    // The same as a pointer; nullptr when unmapped.
    char* relative_addr() const;
    // Process address of physical address `new_phy_addr` inside the window; nullptr when unmapped
    // or when `new_phy_addr` lies outside the window.
    char* relative_addr(size_t new_phy_addr) const;
    size_t size() const { return byte_size; }
    // Fills the window's `byte_size` bytes with `val` (does nothing when unmapped).
    void init_val(int val);

    size_t phy_addr;           // requested physical address
    char* vir_addr = nullptr;  // start of the mapping (page-aligned); nullptr when unmapped
    size_t offset = 0;         // phy_addr modulo the page size
    size_t byte_size;          // requested size
    size_t max_size = 0;       // length actually mapped
};

// All windows of Mem_Map_Str_Table, indexed by Mem_Map_ID.
class mem_map {
public:
    mem_map();
    virtual ~mem_map() = default;
    mem_map(const mem_map&) = delete;
    mem_map& operator=(const mem_map&) = delete;

    std::unique_ptr<MemBlock> Blocks[MAX_Mem_Map_ID];
};
