#pragma once

// The part of a frame-buffer start that the HDMI and UHD-SDI outputs share: the same sequence of
// writes to each block's own registers.

#include <cstdint>

#include "peripheral/std/std.h"
#include "platform/interconnect/interconnect.h"

struct FrameBufferRegs {
    InterConnectRegList static_en;
    InterConnectRegList static_index;
    InterConnectRegList fb_addr[4];
    InterConnectRegList fb_index;
    InterConnectRegList init_line;
    InterConnectRegList w_scan;
    InterConnectRegList w_iparallel_en;
    InterConnectRegList w_byte;
    InterConnectRegList w_total;
    InterConnectRegList r_scan;
    InterConnectRegList r_6g_en;  // REG_MAX when the block has none
    InterConnectRegList r_byte;
    InterConnectRegList r_total;
};

// For output standard `std` (which must be valid), writes in this order: static picture off and
// index 0; the four buffer addresses `fb_addr`; the buffer index and initial line of the pairing
// table; the writer's scan, two-pixels-per-clock flag (4K writer), line bytes and lines from the
// writer's standard; the reader's scan, 6G flag (6G or dual-link 3G output, where the block has
// one), line bytes and lines from the output standard.
void FB_Write_Pipeline(const FrameBufferRegs& regs, const uint32_t (&fb_addr)[4],
                       VideoStd_Index std);
