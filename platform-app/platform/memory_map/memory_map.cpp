#include "platform/memory_map/memory_map.h"

#include <atomic>

#include "platform/mmap/mmap.h"

namespace {

// The single mapping, created by InitMmapVirBaseAddr before any thread starts and never destroyed
// while the daemon runs. Atomic so that a reader on another thread sees a complete object.
std::atomic<mem_map*> p_mem_map{nullptr};

}  // namespace

void InitMmapVirBaseAddr()
{
    if (p_mem_map.load(std::memory_order_acquire) != nullptr) {
        return;
    }
    // Lives until the process ends: the windows stay mapped throughout.
    p_mem_map.store(new mem_map(), std::memory_order_release);
}

size_t GetMmapVirBaseAddr(Mem_Map_ID id)
{
    const mem_map* map = p_mem_map.load(std::memory_order_acquire);
    if (map == nullptr || id >= MAX_Mem_Map_ID || !map->Blocks[id]) {
        return 0;
    }
    return map->Blocks[id]->addr();
}
