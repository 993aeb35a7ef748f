#pragma once

// The FPGA's register map: every register by name, with its window and byte offset. Every register
// is 32 bits wide. Registers 0 to 27 are the OSD engine, command channel, genlock and video-input
// registers; 28 to 53 the HDMI output; 54 to 76 the UHD-SDI output; 77 to 81 the firmware-update
// channel.

#include <cstdint>

#include "platform/memory_map/memory_map.h"

// One line per register, in register-number order: X(name, window, byte offset in the window).
// The enumeration, the table Info and the register names are all generated from this list.
// clang-format off
#define INTERCONNECT_REGISTER_LIST(X) \
    X(OSD_REG_OSD_EN, GP0_S_BASE_ADDR, 0x0) \
    X(OSD_REG_OSD_BASE_ADDR, GP0_S_BASE_ADDR, 0x4) \
    X(OSD_REG_OSD_PER_LEN, GP0_S_BASE_ADDR, 0x8) \
    X(OSD_REG_OSD_TOTAL_NUM, GP0_S_BASE_ADDR, 0xc) \
    X(OSD_REG_OSD_SCAN_ID, GP0_S_BASE_ADDR, 0x10) \
    X(OSD_REG_OSD_PARALLEL_ENABLE, GP0_S_BASE_ADDR, 0x14) \
    X(OSD_REG_OSD_H_START_POINT, GP0_S_BASE_ADDR, 0x18) \
    X(OSD_REG_OSD_H_STOP_POINT, GP0_S_BASE_ADDR, 0x1c) \
    X(OSD_REG_OSD_V_START_POINT, GP0_S_BASE_ADDR, 0x20) \
    X(OSD_REG_OSD_V_STOP_POINT, GP0_S_BASE_ADDR, 0x24) \
    X(OSD_REG_OSD_EXTRA_V_START_POINT, GP0_S_BASE_ADDR, 0x28) \
    X(OSD_REG_OSD_EXTRA_V_STOP_POINT, GP0_S_BASE_ADDR, 0x2c) \
    X(OSD_REG_OSD_BG_H_START_POINT, GP0_S_BASE_ADDR, 0x30) \
    X(OSD_REG_OSD_BG_H_STOP_POINT, GP0_S_BASE_ADDR, 0x34) \
    X(OSD_REG_OSD_BG_V_START_POINT, GP0_S_BASE_ADDR, 0x38) \
    X(OSD_REG_OSD_BG_V_STOP_POINT, GP0_S_BASE_ADDR, 0x3c) \
    X(OSD_REG_OSD_BG_EXTRA_V_START_POINT, GP0_S_BASE_ADDR, 0x40) \
    X(OSD_REG_OSD_BG_EXTRA_V_STOP_POINT, GP0_S_BASE_ADDR, 0x44) \
    X(OSD_REG_SDI_SYNC_STD, GP0_S_BASE_ADDR, 0x48) \
    X(OSD_REG_CMD_RX_READY, GP0_S_BASE_ADDR, 0x4c) \
    X(OSD_REG_CMD_RX_VALID, GP0_S_BASE_ADDR, 0x50) \
    X(OSD_VIN_H_ACTIVE, GP0_S_BASE_ADDR, 0x54) \
    X(OSD_VIN_V_ACTIVE, GP0_S_BASE_ADDR, 0x58) \
    X(OSD_VIN_SCALER_EN, GP0_S_BASE_ADDR, 0x5c) \
    X(OSD_REG_DEVICE_ARG, GP0_S_BASE_ADDR, 0x60) \
    X(OSD_VIN_SPECIAL_EN, GP0_S_BASE_ADDR, 0x64) \
    X(OSD_VIN_LOCKED, GP0_S_BASE_ADDR, 0x68) \
    X(OSD_REG_PLATFORM_RDY, GP0_S_BASE_ADDR, 0x6c) \
    X(HDMI_REG_STATIC_EN, GP1_S_BASE_ADDR, 0x0) \
    X(HDMI_REG_STATIC_INDEX, GP1_S_BASE_ADDR, 0x4) \
    X(HDMI_REG_FB_ADDR_0, GP1_S_BASE_ADDR, 0x8) \
    X(HDMI_REG_FB_ADDR_1, GP1_S_BASE_ADDR, 0xc) \
    X(HDMI_REG_FB_ADDR_2, GP1_S_BASE_ADDR, 0x10) \
    X(HDMI_REG_FB_ADDR_3, GP1_S_BASE_ADDR, 0x14) \
    X(HDMI_REG_FB_INDEX, GP1_S_BASE_ADDR, 0x18) \
    X(HDMI_REG_INIT_LINE, GP1_S_BASE_ADDR, 0x1c) \
    X(HDMI_REG_FB_W_EN, GP1_S_BASE_ADDR, 0x20) \
    X(HDMI_REG_FB_W_SCAN, GP1_S_BASE_ADDR, 0x24) \
    X(HDMI_REG_FB_W_IPARALLEL_EN, GP1_S_BASE_ADDR, 0x28) \
    X(HDMI_REG_FB_W_BYTE, GP1_S_BASE_ADDR, 0x2c) \
    X(HDMI_REG_FB_W_TOTAL, GP1_S_BASE_ADDR, 0x30) \
    X(HDMI_REG_FB_R_EN, GP1_S_BASE_ADDR, 0x34) \
    X(HDMI_REG_FB_R_SCAN, GP1_S_BASE_ADDR, 0x38) \
    X(HDMI_REG_FB_R_BYTE, GP1_S_BASE_ADDR, 0x3c) \
    X(HDMI_REG_FB_R_TOTAL, GP1_S_BASE_ADDR, 0x40) \
    X(HDMI_REG_CWIZ_FREQ_ID, GP1_S_BASE_ADDR, 0x44) \
    X(HDMI_REG_CWIZ_FRAC_ID, GP1_S_BASE_ADDR, 0x48) \
    X(HDMI_REG_STD, GP1_S_BASE_ADDR, 0x4c) \
    X(HDMI_REG_SW_RST, GP1_S_BASE_ADDR, 0x50) \
    X(HDMI_REG_HDMI_AUD_SW, GP1_S_BASE_ADDR, 0x54) \
    X(HDMI_REG_HDBASET_AUD_SW, GP1_S_BASE_ADDR, 0x58) \
    X(HDMI_REG_HDBASET_HPD, GP1_S_BASE_ADDR, 0x5c) \
    X(HDMI_REG_TIMER_NUM_WIZ, GP1_S_BASE_ADDR, 0x60) \
    X(HDMI_REG_TIMER_NUM_PIX, GP1_S_BASE_ADDR, 0x64) \
    X(UHDSDI_REG_STATIC_EN, GP2_S_BASE_ADDR, 0x0) \
    X(UHDSDI_REG_STATIC_INDEX, GP2_S_BASE_ADDR, 0x4) \
    X(UHDSDI_REG_FB_ADDR_0, GP2_S_BASE_ADDR, 0x8) \
    X(UHDSDI_REG_FB_ADDR_1, GP2_S_BASE_ADDR, 0xc) \
    X(UHDSDI_REG_FB_ADDR_2, GP2_S_BASE_ADDR, 0x10) \
    X(UHDSDI_REG_FB_ADDR_3, GP2_S_BASE_ADDR, 0x14) \
    X(UHDSDI_REG_FB_INDEX, GP2_S_BASE_ADDR, 0x18) \
    X(UHDSDI_REG_INIT_LINE, GP2_S_BASE_ADDR, 0x1c) \
    X(UHDSDI_REG_FB_W_EN, GP2_S_BASE_ADDR, 0x20) \
    X(UHDSDI_REG_FB_W_SCAN, GP2_S_BASE_ADDR, 0x24) \
    X(UHDSDI_REG_FB_W_IPARALLEL_EN, GP2_S_BASE_ADDR, 0x28) \
    X(UHDSDI_REG_FB_W_BYTE, GP2_S_BASE_ADDR, 0x2c) \
    X(UHDSDI_REG_FB_W_TOTAL, GP2_S_BASE_ADDR, 0x30) \
    X(UHDSDI_REG_FB_R_EN, GP2_S_BASE_ADDR, 0x34) \
    X(UHDSDI_REG_FB_R_SCAN, GP2_S_BASE_ADDR, 0x38) \
    X(UHDSDI_REG_FB_R_6G_EN, GP2_S_BASE_ADDR, 0x3c) \
    X(UHDSDI_REG_FB_R_BYTE, GP2_S_BASE_ADDR, 0x40) \
    X(UHDSDI_REG_FB_R_TOTAL, GP2_S_BASE_ADDR, 0x44) \
    X(UHDSDI_REG_STD, GP2_S_BASE_ADDR, 0x48) \
    X(UHDSDI_REG_AUD_EN, GP2_S_BASE_ADDR, 0x4c) \
    X(UHDSDI_REG_GENLOCK_EN, GP2_S_BASE_ADDR, 0x50) \
    X(UHDSDI_REG_GTXRST, GP2_S_BASE_ADDR, 0x54) \
    X(UHDSDI_REG_UHDSDI_STATUS, GP2_S_BASE_ADDR, 0x58) \
    X(UPDATE_REG_UPLOAD_RESULT_EN, GP3_S_BASE_ADDR, 0x0) \
    X(UPDATE_REG_UPLOAD_RESULT_ADDR, GP3_S_BASE_ADDR, 0x4) \
    X(UPDATE_REG_UPLOAD_RESULT_NBYTE, GP3_S_BASE_ADDR, 0x8) \
    X(UPDATE_REG_UPLOAD_RESULT_NEXT, GP3_S_BASE_ADDR, 0xc) \
    X(UPDATE_REG_UPDATE_STATUS, GP3_S_BASE_ADDR, 0x10)
// clang-format on

enum InterConnectRegList : uint32_t {
#define INTERCONNECT_ENUM_ENTRY(name, window, offset) name,
    INTERCONNECT_REGISTER_LIST(INTERCONNECT_ENUM_ENTRY)
#undef INTERCONNECT_ENUM_ENTRY
        REG_MAX
};

// One register.
struct StrInterConnectRegInfo {
    InterConnectRegList list;
    Mem_Map_ID id;         // the window
    uint32_t offset_addr;  // byte offset in the window
};

// Row n describes register n.
inline constexpr StrInterConnectRegInfo Info[REG_MAX] = {
#define INTERCONNECT_INFO_ENTRY(name, window, offset) {name, window, offset},
    INTERCONNECT_REGISTER_LIST(INTERCONNECT_INFO_ENTRY)
#undef INTERCONNECT_INFO_ENTRY
};

// The register's name as written above ("HDMI_REG_STD"); "?" for a value outside the map.
const char* InterConnectRegName(InterConnectRegList reg);

// One aligned 32-bit store of `value` to register `reg`. A register whose window is not mapped, or
// a value outside the map, is refused: nothing is written and a line says so (once per window).
void WriteRegister(InterConnectRegList reg, uint32_t value);

// One aligned 32-bit load from register `reg`. A register whose window is not mapped, or a value
// outside the map, reads 0 (reported as for WriteRegister).
uint32_t ReadRegister(InterConnectRegList reg);
