#pragma once

// The FPGA model's command language (one command per line, on standard input or the control
// socket; see README.md).

#include <string>
#include <vector>

#include "board.h"

// Carries out one command line against `board` (after a scan, so the answer reflects every write
// made before the command was sent). Appends the reply lines to `reply`; the last one is "ok" or
// begins "err ". Sets `quit` for "quit".
void run_command(FpgaBoard& board, const std::string& line, std::vector<std::string>& reply,
                 bool& quit);
