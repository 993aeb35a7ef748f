#pragma once

// The "/dev/mem" stand-in of a test board root: a sparse file reaching past every FPGA window.

#include <cstdint>
#include <string>

namespace vantor::test {

// End of the highest window's mapping (GP3_S at 0x43C30000, 64 KiB plus one page).
inline constexpr uint64_t kFullMemFileSize = 0x43C41000;

// Creates (or truncates) a sparse file of `size` bytes. Returns false on failure.
bool create_mem_file(const std::string& path, uint64_t size);

}  // namespace vantor::test
