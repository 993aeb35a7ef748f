#pragma once

#include "platform/interconnect/interconnect.h"

// Prints registers `first` to `last` (inclusive), one per line: the register name padded to the
// longest name of the block, " = " and the value read back, in hexadecimal after "0x" for the
// registers `in_hex` selects and in decimal for the others.
void PrintRegisterBlock(InterConnectRegList first, InterConnectRegList last,
                        bool (*in_hex)(InterConnectRegList));
