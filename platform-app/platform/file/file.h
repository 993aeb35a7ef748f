#pragma once

// Small whole-file helpers of the platform library (the running daemon does not use them). Names
// are used as given. Each returns 0 on success and 1 on failure, after printing a line beginning
// "ERR:".

#include <cstdint>

// Reads up to `size` bytes from `offset` of file `name` into `buffer`; `actual` gets the count
// (0 on failure).
int FileRead(const char* name, uint32_t offset, uint8_t* buffer, uint32_t size, uint32_t* actual);

// Appends `size` bytes of `buffer` to file `name`, creating it if needed (`offset` is ignored:
// writes always append); `actual` gets the count written (0 on failure).
int FileWrite(const char* name, uint32_t offset, const uint8_t* buffer, uint32_t size,
              uint32_t* actual);

// Length of file `name` in bytes; -1 when it cannot be opened or measured.
int64_t FileGetSizeByte(const char* name);
