#pragma once

// The FPGA model of the virtual board: the register windows of the board's "/dev/mem" file, shared
// with the daemon, with the behaviour the daemon's code relies on.
//
// The model sees the daemon's writes by polling the shared file (scan()); see README.md for what
// that can and cannot observe.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/interconnect/interconnect.h"

struct ObservedWrite {
    InterConnectRegList reg;
    uint32_t value;
};

class FpgaModel {
public:
    // Creates the file at `mem_path` if it is missing (sparse, as large as the highest window)
    // and maps the four register windows. `error` gets a reason when that fails.
    bool open(const std::string& mem_path, std::string& error);
    ~FpgaModel();

    // Compares every register with the last value seen, logs each change, then updates the
    // registers the model drives (SDI status, hot-plug, pixel-clock timers, input lock).
    void scan();

    uint32_t read(InterConnectRegList reg) const;
    // Sets a register the model drives (the command channel's hand-shake).
    void drive(InterConnectRegList reg, uint32_t value) { write(reg, value); }
    // Changes seen since the last take_log(), in the order scan() found them.
    std::vector<ObservedWrite> take_log();

    // The board's event log: every register change ("reg NAME 0xVALUE") and, noted by the bus
    // model, every I2C transaction, in the order observed. Keeps the newest kEventLimit entries.
    void note(const std::string& event);
    std::vector<std::string> take_events();
    static constexpr size_t kEventLimit = 100000;

    // The OSD memory window (GP0_M), as the daemon fills it.
    const uint8_t* osd_window() const { return reinterpret_cast<const uint8_t*>(m_osd_window); }

    // Fault injection. `channel` 0 to 2; -1 for all three.
    void set_sdi_lock(int channel, bool locked);
    void set_hot_plug(bool plugged);
    void set_input_lock(bool locked);

    // Registers the model drives: writes to them are not logged; the status registers are
    // overwritten at the next scan, the command channel's by its hand-shake.
    static bool model_driven(InterConnectRegList reg);

    // Size of the "/dev/mem" stand-in: the end of the highest window's mapping.
    static uint64_t mem_file_size();

private:
    volatile uint32_t* address(InterConnectRegList reg) const;
    void write(InterConnectRegList reg, uint32_t value);
    void update_model();

    char* m_windows[GP3_S_BASE_ADDR + 1] = {};
    size_t m_window_size = 0;
    uint32_t m_seen[REG_MAX] = {};
    std::vector<ObservedWrite> m_log;
    std::deque<std::string> m_events;
    char* m_osd_window = nullptr;
    bool m_sdi_locked[3] = {true, true, true};
    bool m_hot_plug = true;
    bool m_input_locked = true;
};
