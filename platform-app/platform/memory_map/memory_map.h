#pragma once

// The FPGA's eight fixed physical address windows: four register windows on the general-purpose
// slave ports and four memory windows (OSD bitmap and frame-buffer memory). They are mapped once at
// start-up (InitMmapVirBaseAddr) and stay mapped for the life of the process.

#include <cstddef>
#include <cstdint>

enum Mem_Map_ID : uint32_t {
    GP0_S_BASE_ADDR = 0,  // OSD, command channel and video-input registers
    GP1_S_BASE_ADDR = 1,  // HDMI output frame-buffer registers
    GP2_S_BASE_ADDR = 2,  // UHD-SDI output frame-buffer registers
    GP3_S_BASE_ADDR = 3,  // firmware-update registers
    GP0_M_BASE_ADDR = 4,  // OSD bitmap memory
    GP1_M_BASE_ADDR = 5,  // memory window, mapped, not accessed
    HP0_M_BASE_ADDR = 6,  // the four HDMI output frame buffers (accessed only by the FPGA)
    HP1_M_BASE_ADDR = 7,  // the four UHD-SDI output frame buffers (accessed only by the FPGA)
    MAX_Mem_Map_ID = 8,
};

// One window.
struct Mem_Map_Str {
    Mem_Map_ID ID;
    size_t PhyBaseAddr;  // physical address
    size_t VirBaseAddr;  // not filled in: the mapping lives in mem_map
    size_t SizeByte;
    bool Init_En;    // fill the window at start-up
    int Init_Value;  // fill byte
};

// clang-format off
inline constexpr Mem_Map_Str Mem_Map_Str_Table[MAX_Mem_Map_ID] = {
    {GP0_S_BASE_ADDR, 0x43C00000, 0, 0x10000, false, 0},
    {GP1_S_BASE_ADDR, 0x43C10000, 0, 0x10000, false, 0},
    {GP2_S_BASE_ADDR, 0x43C20000, 0, 0x10000, false, 0},
    {GP3_S_BASE_ADDR, 0x43C30000, 0, 0x10000, false, 0},
    {GP0_M_BASE_ADDR, 0x34000000, 0, 0x1000000, false, 0},
    {GP1_M_BASE_ADDR, 0x35000000, 0, 0x1000000, false, 0},
    {HP0_M_BASE_ADDR, 0x36000000, 0, 0x4000000, false, 0},
    {HP1_M_BASE_ADDR, 0x3A000000, 0, 0x4000000, false, 0},
};
// clang-format on

// Creates the single mem_map and maps every window of Mem_Map_Str_Table through "/dev/mem" (below
// the board root). Called once, before any thread starts; a second call does nothing. Ends the
// process with status 1 when "/dev/mem" cannot be opened. A window that cannot be mapped is
// reported and left unmapped: its base address reads 0 and register accesses to it are refused.
void InitMmapVirBaseAddr();

// Process address of the first byte of window `id`; 0 for an id above 7, for a window that is not
// mapped, and before InitMmapVirBaseAddr.
size_t GetMmapVirBaseAddr(Mem_Map_ID id);
