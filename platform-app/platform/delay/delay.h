#pragma once

// The daemon's fixed waits (chip resets, settling times, the pause after each bus transaction).
// One function so that the recording test layer can log each wait in order with the accesses it
// separates instead of sleeping.

#include <cstdint>

void Delay_Ms(uint32_t ms);
