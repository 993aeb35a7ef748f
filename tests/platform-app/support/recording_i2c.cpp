#include "support/recording_i2c.h"

#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <set>

#include "platform/delay/delay.h"
#include "platform/i2c/i2c.h"
#include "support/recording_registers.h"

namespace {

using Key = std::pair<uint8_t, uint8_t>;

std::mutex g_mutex;
std::vector<std::string> g_log;
std::map<Key, uint8_t> g_registers;
std::map<Key, std::deque<uint8_t>> g_queued;
std::set<Key> g_failing;

std::string entry(uint8_t dev, uint8_t reg, char op, uint8_t value, bool failed)
{
    char text[32];
    if (op == '=') {
        std::snprintf(text, sizeof text, "%02X:%02X=%02X", dev, reg, value);
    } else {
        std::snprintf(text, sizeof text, "%02X:%02X?", dev, reg);
    }
    return std::string(text) + (failed ? "!" : "");
}

}  // namespace

I2c::I2c() : sysfs_i2c_path("/dev/i2c-0") {}

I2c::I2c(unsigned bus) : sysfs_i2c_path("/dev/i2c-" + std::to_string(bus)) {}

bool I2c::WriteByte(uint8_t dev, uint8_t reg, uint8_t value)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    const bool failed = g_failing.count({dev, reg}) != 0;
    g_log.push_back(entry(dev, reg, '=', value, failed));
    if (!failed) {
        g_registers[{dev, reg}] = value;
    }
    return !failed;
}

bool I2c::ReadByte(uint8_t dev, uint8_t reg, uint8_t& value)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    const bool failed = g_failing.count({dev, reg}) != 0;
    g_log.push_back(entry(dev, reg, '?', 0, failed));
    if (failed) {
        return false;
    }
    std::deque<uint8_t>& queued = g_queued[{dev, reg}];
    if (!queued.empty()) {
        value = queued.front();
        queued.pop_front();
    } else {
        value = g_registers[{dev, reg}];
    }
    return true;
}

// Waits are logged in both recordings, in order with the accesses around them, and take no time.
void Delay_Ms(uint32_t ms)
{
    vantor::test::RecordingRegisters::note_wait(ms);
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_log.push_back("wait " + std::to_string(ms));
}

namespace vantor::test {

void RecordingI2c::reset()
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_log.clear();
    g_registers.clear();
    g_queued.clear();
    g_failing.clear();
}

void RecordingI2c::set(uint8_t dev, uint8_t reg, uint8_t value)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_registers[{dev, reg}] = value;
}

void RecordingI2c::queue_reads(uint8_t dev, uint8_t reg, const std::vector<uint8_t>& values)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_queued[{dev, reg}].assign(values.begin(), values.end());
}

void RecordingI2c::fail(uint8_t dev, uint8_t reg)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_failing.insert({dev, reg});
}

std::vector<std::string> RecordingI2c::log()
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    return g_log;
}

std::string RecordingI2c::text()
{
    std::string joined;
    for (const std::string& e : log()) {
        joined += (joined.empty() ? "" : " ") + e;
    }
    return joined;
}

}  // namespace vantor::test
