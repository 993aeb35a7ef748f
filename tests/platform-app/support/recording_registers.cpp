#include "support/recording_registers.h"

#include <mutex>

namespace {

std::mutex g_mutex;
uint32_t g_values[REG_MAX] = {};
std::vector<vantor::test::RegisterAccess> g_log;
// The OSD window (GP0_M): the one memory window the daemon's code writes.
std::vector<uint8_t> g_osd_window(Mem_Map_Str_Table[GP0_M_BASE_ADDR].SizeByte);

}  // namespace

size_t GetMmapVirBaseAddr(Mem_Map_ID id)
{
    return id == GP0_M_BASE_ADDR ? reinterpret_cast<size_t>(g_osd_window.data()) : 0U;
}

// The layer's two primitives, replacing platform/interconnect/register_access.cpp.
void WriteRegister(InterConnectRegList reg, uint32_t value)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    if (reg < REG_MAX) {
        g_values[reg] = value;
    }
    g_log.push_back({true, reg, value});
}

uint32_t ReadRegister(InterConnectRegList reg)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    const uint32_t value = reg < REG_MAX ? g_values[reg] : 0U;
    g_log.push_back({false, reg, value});
    return value;
}

namespace vantor::test {

void RecordingRegisters::reset()
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_log.clear();
    for (uint32_t& value : g_values) {
        value = 0;
    }
}

void RecordingRegisters::set(InterConnectRegList reg, uint32_t value)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_values[reg] = value;
}

std::vector<RegisterAccess> RecordingRegisters::log()
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    return g_log;
}

std::vector<RegisterAccess> RecordingRegisters::writes()
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    std::vector<RegisterAccess> writes;
    for (const RegisterAccess& access : g_log) {
        if (access.write) {
            writes.push_back(access);
        }
    }
    return writes;
}

uint8_t* RecordingRegisters::osd_window()
{
    return g_osd_window.data();
}

std::vector<RegisterAccess> RecordingRegisters::writes_and_waits()
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    std::vector<RegisterAccess> kept;
    for (const RegisterAccess& access : g_log) {
        if (access.write || access.reg == REG_MAX) {
            kept.push_back(access);
        }
    }
    return kept;
}

void RecordingRegisters::note_wait(uint32_t ms)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_log.push_back(Wait(ms));
}

}  // namespace vantor::test
