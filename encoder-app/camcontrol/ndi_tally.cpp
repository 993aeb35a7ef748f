#include <chrono>
#include <cstdio>
#include <thread>

#include "camcontrol/Camcontrol.h"

// The tally thread: the camera's tally lamp follows the program/preview tally that NDI receivers
// report to the main sender. A lamp command goes out only when the lamp's state changes, so the
// line carries one command per change.

namespace {

constexpr auto kTallyPeriod = std::chrono::milliseconds(200);
constexpr uint32_t kTallyWaitMs = 10;
constexpr int kTallyCategory = 0x7E;
constexpr int kTallyId = 0x01;
constexpr uint64_t kLampSetup = 0x0A0105;
constexpr uint64_t kLampProgram = 0x0A0002;
constexpr uint64_t kLampPreview = 0x0A0001;
constexpr uint64_t kLampOff = 0x0A0003;

}  // namespace

void Camcontrol::ndi_tally()
{
    visca::create_command(tally_mode, 3, kTallyCategory, kTallyId, kLampSetup);
    visca::create_command(tally, 3, kTallyCategory, kTallyId, kLampProgram);
    m_visca.visca_exec_cmd(tally_mode);

    const auto lamp = [this](uint64_t which) {
        visca::create_command(tally, 3, kTallyCategory, kTallyId, which);
        m_visca.visca_exec_cmd(tally);
    };
    bool tally_prog_last = false;
    bool tally_prev_last = false;
    bool tally_off_last = false;
    while (ndi_tally_Running) {
        if (!tally_en) {
            if (tally_prog_last || tally_prev_last) {
                lamp(kLampOff);
                tally_off_last = true;
                tally_prog_last = false;
                tally_prev_last = false;
            }
        } else {
            NDIlib_send_get_tally(ndi_tx_inst, &p_tally, kTallyWaitMs);
            if (p_tally.on_program) {
                if (!tally_prog_last) {
                    std::puts("Tally PROG");
                    lamp(kLampProgram);
                    tally_prog_last = true;
                    tally_prev_last = false;
                    tally_off_last = false;
                }
            } else if (p_tally.on_preview) {
                if (!tally_prev_last) {
                    std::puts("Tally PREV");
                    lamp(kLampPreview);
                    tally_prev_last = true;
                    tally_prog_last = false;
                    tally_off_last = false;
                }
            } else if (!tally_off_last) {
                std::puts("Tally OFF");
                lamp(kLampOff);
                tally_off_last = true;
                tally_prog_last = false;
                tally_prev_last = false;
            }
            std::fflush(stdout);
        }
        std::this_thread::sleep_for(kTallyPeriod);
    }
}
