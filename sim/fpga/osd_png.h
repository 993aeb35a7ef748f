#pragma once

// Writes the OSD as the FPGA's OSD engine would overlay it: the bitmap in the OSD window at the
// size the engine is programmed for (OSD_REG_OSD_H_STOP_POINT x OSD_REG_OSD_V_STOP_POINT, the
// width doubled when two pixels are sent per clock), one bit per pixel, bit 0 leftmost. Drawn
// pixels are white, the background box (OSD_REG_OSD_BG_*) dark grey, the rest black.

#include <string>

#include "fpga_model.h"

bool write_osd_png(const FpgaModel& model, const std::string& path, std::string& error);
