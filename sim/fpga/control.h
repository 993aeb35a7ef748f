#pragma once

// The FPGA model's command language (one command per line on standard input, see README.md).

#include <string>
#include <vector>

#include "fpga_model.h"

// Carries out one command line against `model` (after a scan, so the answer reflects every write
// made before the command was sent). Appends the reply lines to `reply`; the last one is "ok" or
// begins "err ". Sets `quit` for "quit".
void run_command(FpgaModel& model, const std::string& line, std::vector<std::string>& reply,
                 bool& quit);
