// The real register layer: one aligned 32-bit access through the mapped window. Tests of the
// modules above it link a recording layer in its place (tests/platform-app/support).

#include <atomic>
#include <cstdio>

#include "platform/interconnect/interconnect.h"

namespace {

// Set once the refusal of a window has been reported, so that a missing window is said once and
// does not flood the output of a loop that polls it.
std::atomic<bool> g_unmapped_reported[MAX_Mem_Map_ID];

volatile uint32_t* register_address(InterConnectRegList reg)
{
    if (reg >= REG_MAX) {
        std::printf("ERR: register %u is not in the register map, access refused\n",
                    static_cast<unsigned>(reg));
        return nullptr;
    }
    const StrInterConnectRegInfo& row = Info[reg];
    const size_t base = GetMmapVirBaseAddr(row.id);
    if (base == 0) {
        if (!g_unmapped_reported[row.id].exchange(true)) {
            std::printf("ERR: register window %u (0x%zx) is not mapped: accesses to its registers "
                        "are refused (reads give 0, writes are dropped), first %s\n",
                        static_cast<unsigned>(row.id), Mem_Map_Str_Table[row.id].PhyBaseAddr,
                        InterConnectRegName(reg));
        }
        return nullptr;
    }
    // The window base is page-aligned plus a sub-page offset and every register offset is a
    // multiple of 4, so the access is aligned.
    // The window base is a process address handed out as an integer (GetMmapVirBaseAddr).
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    return reinterpret_cast<volatile uint32_t*>(base + row.offset_addr);
}

}  // namespace

void WriteRegister(InterConnectRegList reg, uint32_t value)
{
    volatile uint32_t* p = register_address(reg);
    if (p != nullptr) {
        *p = value;
    }
}

uint32_t ReadRegister(InterConnectRegList reg)
{
    const volatile uint32_t* p = register_address(reg);
    return p != nullptr ? *p : 0U;
}
