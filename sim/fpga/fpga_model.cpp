#include "fpga_model.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/uhdsdi/fb_uhdsdi.h"
#include "vantor/unique_fd.h"

namespace {

uint64_t page_size()
{
    const long size = ::sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<uint64_t>(size) : 4096U;
}

// Clock-wizard output in kHz for HDMI_REG_CWIZ_FREQ_ID / HDMI_REG_CWIZ_FRAC_ID.
uint32_t wizard_khz(uint32_t freq_id, uint32_t frac_id)
{
    static const uint32_t kKhz[] = {74250, 148500, 297000};
    if (freq_id >= sizeof kKhz / sizeof kKhz[0]) {
        return 0;
    }
    const uint64_t khz = kKhz[freq_id];
    return static_cast<uint32_t>(frac_id == ARG_FRAC_EN ? khz * 1000 / 1001 : khz);
}

}  // namespace

uint64_t FpgaModel::mem_file_size()
{
    // The daemon maps one page more than the whole pages of each window.
    uint64_t end = 0;
    for (const Mem_Map_Str& row : Mem_Map_Str_Table) {
        const uint64_t page = page_size();
        const uint64_t window_end =
            row.PhyBaseAddr / page * page + page * (row.SizeByte / page + 1);
        end = window_end > end ? window_end : end;
    }
    return end;
}

bool FpgaModel::open(const std::string& mem_path, std::string& error)
{
    vantor::UniqueFd fd(::open(mem_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600));
    if (!fd) {
        error = "cannot open " + mem_path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        error = "cannot stat " + mem_path;
        return false;
    }
    // Only a plain file stands in for physical memory: a character device here (the machine's own
    // "/dev/mem", also through a symlink) would have the model write real memory.
    if (!S_ISREG(st.st_mode)) {
        error = mem_path + " is not a regular file; refusing to map it";
        return false;
    }
    const uint64_t size = mem_file_size();
    if (static_cast<uint64_t>(st.st_size) < size &&
        ::ftruncate(fd.get(), static_cast<off_t>(size)) != 0) {
        error = "cannot extend " + mem_path + ": " + std::strerror(errno);
        return false;
    }
    m_window_size = Mem_Map_Str_Table[GP0_S_BASE_ADDR].SizeByte;
    for (uint32_t id = GP0_S_BASE_ADDR; id <= GP3_S_BASE_ADDR; ++id) {
        void* p = ::mmap(nullptr, m_window_size, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(),
                         static_cast<off_t>(Mem_Map_Str_Table[id].PhyBaseAddr));
        if (p == MAP_FAILED) {
            error =
                "cannot map register window " + std::to_string(id) + ": " + std::strerror(errno);
            return false;
        }
        m_windows[id] = static_cast<char*>(p);
    }
    const Mem_Map_Str& osd = Mem_Map_Str_Table[GP0_M_BASE_ADDR];
    void* p = ::mmap(nullptr, osd.SizeByte, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(),
                     static_cast<off_t>(osd.PhyBaseAddr));
    if (p == MAP_FAILED) {
        error = std::string("cannot map the OSD window: ") + std::strerror(errno);
        return false;
    }
    m_osd_window = static_cast<char*>(p);
    for (uint32_t r = 0; r < REG_MAX; ++r) {
        m_seen[r] = read(static_cast<InterConnectRegList>(r));
    }
    update_model();
    return true;
}

FpgaModel::~FpgaModel()
{
    if (m_osd_window != nullptr) {
        ::munmap(m_osd_window, Mem_Map_Str_Table[GP0_M_BASE_ADDR].SizeByte);
    }
    for (char* window : m_windows) {
        if (window != nullptr) {
            ::munmap(window, m_window_size);
        }
    }
}

volatile uint32_t* FpgaModel::address(InterConnectRegList reg) const
{
    const StrInterConnectRegInfo& row = Info[reg];
    return reinterpret_cast<volatile uint32_t*>(m_windows[row.id] + row.offset_addr);
}

uint32_t FpgaModel::read(InterConnectRegList reg) const
{
    return *address(reg);
}

void FpgaModel::write(InterConnectRegList reg, uint32_t value)
{
    *address(reg) = value;
    m_seen[reg] = value;
}

bool FpgaModel::model_driven(InterConnectRegList reg)
{
    return reg == UHDSDI_REG_UHDSDI_STATUS || reg == HDMI_REG_HDBASET_HPD ||
           reg == HDMI_REG_TIMER_NUM_WIZ || reg == HDMI_REG_TIMER_NUM_PIX ||
           reg == OSD_VIN_LOCKED || reg == OSD_REG_CMD_RX_VALID || reg == OSD_REG_CMD_RX_READY;
}

void FpgaModel::scan()
{
    for (uint32_t r = 0; r < REG_MAX; ++r) {
        const auto reg = static_cast<InterConnectRegList>(r);
        if (model_driven(reg)) {
            continue;
        }
        const uint32_t value = read(reg);
        if (value != m_seen[r]) {
            m_seen[r] = value;
            m_log.push_back({reg, value});
            char text[16];
            std::snprintf(text, sizeof text, "0x%08x", value);
            note(std::string("reg ") + InterConnectRegName(reg) + " " + text);
        }
    }
    update_model();
}

void FpgaModel::update_model()
{
    // SDI: while the transceivers are held in reset each channel shows its fabric and PLL resets;
    // out of reset the change is done, and a channel locks once the reader runs (unless a lock
    // fault is injected).
    uint32_t status = 0;
    const bool in_reset = m_seen[UHDSDI_REG_GTXRST] != 0;
    const bool reading = m_seen[UHDSDI_REG_FB_R_EN] != 0;
    for (uint32_t ch = 0; ch < UHDSDI_STATUS_CHANNELS; ++ch) {
        uint32_t byte = 0;
        if (in_reset) {
            byte = UHDSDI_STATUS_FABRIC_RST | UHDSDI_STATUS_PLL_RST;
        } else {
            byte = UHDSDI_STATUS_CHANGE_DONE;
            if (reading && m_sdi_locked[ch]) {
                byte |= UHDSDI_STATUS_LOCKED;
            }
        }
        status |= byte << (8 * ch);
    }
    write(UHDSDI_REG_UHDSDI_STATUS, status);

    write(HDMI_REG_HDBASET_HPD, m_hot_plug ? 1U : 0U);
    write(OSD_VIN_LOCKED, m_input_locked ? 1U : 0U);

    // Pixel-clock timers: kHz of the clock wizard's selection; the pixel counter runs only while
    // the HDMI block is out of reset and its reader is enabled.
    const uint32_t wiz = wizard_khz(m_seen[HDMI_REG_CWIZ_FREQ_ID], m_seen[HDMI_REG_CWIZ_FRAC_ID]);
    const bool hdmi_running = m_seen[HDMI_REG_SW_RST] == 0 && m_seen[HDMI_REG_FB_R_EN] != 0;
    write(HDMI_REG_TIMER_NUM_WIZ, wiz);
    write(HDMI_REG_TIMER_NUM_PIX, hdmi_running ? wiz : 0U);
}

void FpgaModel::note(const std::string& event)
{
    m_events.push_back(event);
    if (m_events.size() > kEventLimit) {
        m_events.pop_front();
    }
}

std::vector<std::string> FpgaModel::take_events()
{
    std::vector<std::string> events(m_events.begin(), m_events.end());
    m_events.clear();
    return events;
}

std::vector<ObservedWrite> FpgaModel::take_log()
{
    std::vector<ObservedWrite> log;
    log.swap(m_log);
    return log;
}

void FpgaModel::set_sdi_lock(int channel, bool locked)
{
    for (int ch = 0; ch < 3; ++ch) {
        if (channel < 0 || channel == ch) {
            m_sdi_locked[ch] = locked;
        }
    }
    update_model();
}

void FpgaModel::set_hot_plug(bool plugged)
{
    m_hot_plug = plugged;
    update_model();
}

void FpgaModel::set_input_lock(bool locked)
{
    m_input_locked = locked;
    update_model();
}
