#pragma once

// The FPGA's command byte channel and the on-screen display: bytes taken one per interrupt
// (OSD_Read_Cmd), assembled into framed commands (Osd_Cmd_Extract), the values they carry
// (getters), characters drawn into a 1-bit-per-pixel bitmap and shown through the FPGA's OSD
// engine. Also the small video-input register functions of the same FPGA block.
//
// All state is module-wide and used by the event thread only.

#include <cstddef>
#include <cstdint>

#include "peripheral/sil9136/out_color_space.h"
#include "peripheral/std/std.h"
#include "platform/memory_map/memory_map.h"

enum OSD_CmdList : uint32_t {
    OSD_CMD_INVALID = 0,
    OSD_CMD_VERSION = 0x10,
    OSD_CMD_STD = 0x15,
    OSD_CMD_AUDIO = 0x17,
    OSD_CMD_OSC = 0x19,
    OSD_COLOR_SPACE = 0x1A,
    OSD_CMD_SYNC = 0x20,
    OSD_CMD_RDY = 0x21,
    OSD_DEVICE_MAC = 0x32,
    OSD_CMD_POSITION = 0x50,
    OSD_CMD_OEM_LOGO = 0x75,
    OSD_CMD_AI_LOGO = 0x85,
    OSD_CMD_HEAD = 0xA5,
    OSD_CMD_CLEAR = 0xAF,
};

// The grid of half-width cells.
inline constexpr uint32_t OSD_MAX_H = 40;
inline constexpr uint32_t OSD_MAX_V = 15;
// Room for the grid in full-width 96 x 96 cells.
inline constexpr uint32_t OSD_LIB_BYTE = 96 * 96 / 8 * OSD_MAX_V * OSD_MAX_H;
inline constexpr uint32_t OSD_MAC_BYTES = 12;
// The OSD window as the OSD engine reads it: its physical address and size, from the memory map.
inline constexpr uint32_t OSD_BITMAP_PHYS_ADDR =
    static_cast<uint32_t>(Mem_Map_Str_Table[GP0_M_BASE_ADDR].PhyBaseAddr);
inline constexpr size_t OSD_WINDOW_BYTES = Mem_Map_Str_Table[GP0_M_BASE_ADDR].SizeByte;

// Geometry of the glyphs of one size class.
struct OSD_Display_Font {
    VideoStd_ArgSize argsize;
    uint8_t full_v, full_h, full_byte_h;
    uint32_t full_byte;
    uint8_t half_v, half_h, half_byte_h;
    uint32_t half_byte;
};
// Row n is size class n.
inline constexpr OSD_Display_Font OSD_Display_Font_Info[3] = {
    {ARG_SIZE_3840x2160, 96, 96, 12, 1152, 96, 48, 6, 576},
    {ARG_SIZE_1920x1080, 48, 48, 6, 288, 48, 24, 3, 144},
    {ARG_SIZE_1280x720, 32, 32, 4, 128, 32, 16, 2, 64},
};

// Takes one byte from the FPGA: false when none is waiting; else stores it and acknowledges.
bool OSD_Read_Cmd(uint8_t* value);
// Feeds one byte; returns the command completed by it, else OSD_CMD_INVALID.
OSD_CmdList Osd_Cmd_Extract(uint8_t byte);

VideoStd_Index OSD_Get_HdmiStd();
VideoStd_Index OSD_Get_UhdSdiStd();
bool OSD_Get_AudSw();
OUT_COLOR_SPACE OSD_Get_ColorSpace();
// Copies the 12 MAC bytes to `dat` (at least 12 bytes).
void OSD_Get_Mac(uint32_t* dat);

// Draws the character of the last position frame. A position outside the 40 x 15 grid (a
// two-byte character also needs column x + 1), a single-byte code of 128 or more (other than the
// blank substitution at column 3) or a two-byte code outside 0xA1 to 0xFE is refused with a
// message: nothing is drawn and false is returned.
bool OSD_Set_Position();
// Widens the drawn area to include the last character's cell.
void OSD_FindFeatruePoint();
// Empties the drawn area (top-left (40, 15), bottom-right (0, 0)).
void OSD_ClearFeatruePoint();
// Copies the grid from the bitmap to the OSD window and programs the OSD engine.
void OSD_Show();
void Cfg_OSD_Reg();
// OSD engine off, OSD window and bitmap zeroed (the drawn area is kept).
void OSD_Clear_Display();
// Tells the FPGA the platform is ready.
void OSD_PlatformRdy();

// Video input: geometry for `std`, lock status, genlock reference standard.
void Video_In_Reg(VideoStd_Index std);
bool Video_In_Locked();
void Video_Genlock_Std(VideoStd_Index std);

// For tests and diagnostics: the bitmap being composed, the size class and the drawn area.
const uint8_t* OSD_Lib();
VideoStd_ArgSize OSD_Get_ArgSize();
struct OSD_Area {
    uint8_t leftup_x, leftup_y, rightdown_x, rightdown_y;
};
OSD_Area OSD_Get_Area();
