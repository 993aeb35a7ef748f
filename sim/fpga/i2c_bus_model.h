#pragma once

// The chips on the board's I2C bus, served on the Unix socket that stands in for "/dev/i2c-0"
// (the request protocol of platform-app/platform/i2c/i2c_link.h). Each chip is a register file;
// behaviour the daemon relies on:
// - ADV7619 IO map (0x4C) register FF reads 0x80 for 10 ms after the chip reset (FF = 80 written),
//   then 0;
// - LMH1983 (0x65) register 20 holds the reference format code (set_reference);
// - SiI9136-3 (0x3B) register 40 reads bits 7 and 6 set while a display is plugged;
// - every other address does not answer (status 1), nor does a chip muted with set_answering
//   (a chip that holds the bus or lost its supply), noted as "i2c 3B:40 no answer".
// Every transaction is noted in the board's event log as "i2c 4C:FF=80" (write) or "i2c 4C:FF?00"
// (read and the value read), after a register scan, so the log keeps the daemon's order of
// register writes and bus transactions.

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <poll.h>
#include <set>
#include <string>
#include <vector>

#include "fpga_model.h"
#include "vantor/unique_fd.h"

class I2cBusModel {
public:
    I2cBusModel();
    ~I2cBusModel();
    I2cBusModel(const I2cBusModel&) = delete;
    I2cBusModel& operator=(const I2cBusModel&) = delete;

    bool listen(const std::string& path, std::string& error);
    // Descriptors to poll for input: the listener, then one per connection.
    void add_poll_fds(std::vector<struct pollfd>& fds) const;
    // Handles the descriptors of `fds` (as returned by poll) that add_poll_fds added.
    void handle(const std::vector<struct pollfd>& fds, FpgaModel& model);

    void set_reference(uint8_t code) { m_chips[kLmh][0x20] = code; }
    void set_display(bool plugged) { m_display = plugged; }
    // False makes the chip at `address` stop answering, true makes it answer again; false for an
    // address with no chip.
    bool set_answering(uint8_t address, bool answering);

private:
    static constexpr uint8_t kAdvIo = 0x4C;
    static constexpr uint8_t kLmh = 0x65;
    static constexpr uint8_t kSil = 0x3B;

    struct Client {
        vantor::UniqueFd fd;
        std::string pending;
    };

    // One request; fills the 2-byte answer.
    void answer(const uint8_t request[4], uint8_t reply[2], FpgaModel& model);

    vantor::UniqueFd m_listener;
    std::string m_path;
    std::vector<Client> m_clients;
    std::map<uint8_t, std::array<uint8_t, 256>> m_chips;
    std::chrono::steady_clock::time_point m_reset_done{};
    bool m_display = true;
    std::set<uint8_t> m_muted;
};
