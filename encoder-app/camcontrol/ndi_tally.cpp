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

    // What the lamp was last told; nothing at the start.
    enum class Lamp { none, program, preview, off };
    struct LampCommand {
        const char* line;
        uint64_t command;
    };
    const auto command_of = [](Lamp lamp) {
        switch (lamp) {
        case Lamp::program:
            return LampCommand{"Tally PROG", kLampProgram};
        case Lamp::preview:
            return LampCommand{"Tally PREV", kLampPreview};
        default:
            return LampCommand{"Tally OFF", kLampOff};
        }
    };
    const auto send = [this](uint64_t which) {
        visca::create_command(tally, 3, kTallyCategory, kTallyId, which);
        m_visca.visca_exec_cmd(tally);
    };
    Lamp lamp = Lamp::none;
    while (ndi_tally_Running) {
        if (!tally_en) {
            // Disabled while lit: off, without a line.
            if (lamp == Lamp::program || lamp == Lamp::preview) {
                send(kLampOff);
                lamp = Lamp::off;
            }
        } else {
            NDIlib_send_get_tally(ndi_tx_inst, &p_tally, kTallyWaitMs);
            // Program wins over preview.
            const Lamp wanted = p_tally.on_program   ? Lamp::program
                                : p_tally.on_preview ? Lamp::preview
                                                     : Lamp::off;
            if (wanted != lamp) {
                const LampCommand command = command_of(wanted);
                std::puts(command.line);
                std::fflush(stdout);
                send(command.command);
                lamp = wanted;
            }
        }
        std::this_thread::sleep_for(kTallyPeriod);
    }
}
