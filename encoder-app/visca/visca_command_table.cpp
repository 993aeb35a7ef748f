#include <chrono>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <thread>

#include "visca/visca.h"

namespace {

using Slot = visca_command (visca::*)[visca::number_of_cmd];

struct InitialSlot {
    Slot slot;
    std::initializer_list<uint8_t> packet;
};

// The initial packets of the slots. Parameter bytes are placeholders that producers overwrite.
const InitialSlot kInitialSlots[] = {
    {&visca::cam_pt_dir_move_command, {0x81, 0x01, 0x06, 0x01, 0x01, 0x01, 0x01, 0x01, 0xFF}},
    {&visca::cam_pt_stop_command, {0x81, 0x01, 0x06, 0x01, 0x05, 0x05, 0x03, 0x03, 0xFF}},
    {&visca::cam_pt_home_command, {0x81, 0x01, 0x06, 0x04, 0xFF}},
    {&visca::cam_pt_reset_command, {0x81, 0x01, 0x06, 0x05, 0xFF}},
    {&visca::cam_pt_position_command, {0x81, 0x01, 0x06, 0x02, 0x01, 0x01, 0x01, 0x01, 0xFF}},
    {&visca::cam_pt_ab_position_command,
     {0x81, 0x01, 0x06, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF}},
    {&visca::cam_zoom_direct, {0x81, 0x01, 0x04, 0x47, 0x05, 0x05, 0x03, 0x03, 0xFF}},
    {&visca::cam_zoom_speed, {0x81, 0x01, 0x04, 0x07, 0x00, 0xFF}},
    {&visca::cam_zoom_stop, {0x81, 0x01, 0x04, 0x07, 0x00, 0xFF}},
    {&visca::cam_preset_call_rst_recall, {0x81, 0x01, 0x04, 0x3F, 0x00, 0x00, 0xFF}},
    {&visca::cam_focus_mode, {0x81, 0x01, 0x04, 0x38, 0x00, 0xFF}},
    {&visca::cam_focus_near_far_speed, {0x81, 0x01, 0x04, 0x08, 0x00, 0xFF}},
    {&visca::cam_focus_near_far_dir, {0x81, 0x01, 0x04, 0x08, 0x00, 0xFF}},
    {&visca::cam_focus_stop, {0x81, 0x01, 0x04, 0x08, 0x00, 0xFF}},
    {&visca::cam_wb_mode, {0x81, 0x01, 0x04, 0x35, 0x00, 0xFF}},
    // One-push white-balance trigger; byte 4 is the trigger value.
    {&visca::cam_wb_one_push_trig, {0x81, 0x01, 0x04, 0x10, 0x05, 0xFF}},
    {&visca::cam_wb_rg_dir, {0x81, 0x01, 0x04, 0x43, 0x00, 0x00, 0x00, 0x00, 0xFF}},
    {&visca::cam_wb_bg_dir, {0x81, 0x01, 0x04, 0x44, 0x00, 0x00, 0x00, 0x00, 0xFF}},
    {&visca::cam_exposure_mode, {0x81, 0x01, 0x04, 0x39, 0x00, 0xFF}},
    {&visca::cam_exposure_iris_dir, {0x81, 0x01, 0x04, 0x4B, 0x00, 0x00, 0x00, 0x00, 0xFF}},
    {&visca::cam_exposure_shut_dir, {0x81, 0x01, 0x04, 0x4A, 0x00, 0x00, 0x00, 0x00, 0xFF}},
    {&visca::cam_exposure_bright_dir, {0x81, 0x01, 0x04, 0x4D, 0x00, 0x00, 0x00, 0x00, 0xFF}},
    {&visca::cam_exposure_gain_dir, {0x81, 0x01, 0x04, 0x4C, 0x00, 0x00, 0x00, 0x00, 0xFF}},
    {&visca::cam_exposure_iris_updown, {0x81, 0x01, 0x04, 0x0B, 0x00, 0xFF}},
    {&visca::cam_exposure_shut_updown, {0x81, 0x01, 0x04, 0x0A, 0x00, 0xFF}},
    {&visca::cam_exposure_bright_updown, {0x81, 0x01, 0x04, 0x0D, 0x00, 0xFF}},
    {&visca::cam_misc, {0x81, 0x01, 0x04, 0x00, 0x00, 0xFF}},
};

// The order in which a drain sends the pending slots.
const std::array<Slot, visca::number_of_slots> kExecutionOrder = {
    &visca::cam_pt_dir_move_command,
    &visca::cam_pt_stop_command,
    &visca::cam_pt_position_command,
    &visca::cam_pt_ab_position_command,
    &visca::cam_pt_home_command,
    &visca::cam_pt_reset_command,
    &visca::cam_zoom_direct,
    &visca::cam_zoom_speed,
    &visca::cam_zoom_stop,
    &visca::cam_preset_call_rst_recall,
    &visca::cam_focus_mode,
    &visca::cam_focus_near_far_dir,
    &visca::cam_focus_near_far_speed,
    &visca::cam_focus_stop,
    &visca::cam_wb_mode,
    &visca::cam_wb_one_push_trig,
    &visca::cam_wb_rg_dir,
    &visca::cam_wb_bg_dir,
    &visca::cam_exposure_mode,
    &visca::cam_exposure_iris_dir,
    &visca::cam_exposure_bright_dir,
    &visca::cam_exposure_shut_dir,
    &visca::cam_exposure_gain_dir,
    &visca::cam_exposure_iris_updown,
    &visca::cam_exposure_shut_updown,
    &visca::cam_exposure_bright_updown,
    &visca::cam_misc,
};

// The least time between the starts of two drains: at most one command per slot per 20 ms.
constexpr auto kDrainSpacing = std::chrono::milliseconds(20);
// The camera needs this pause between the one-push white-balance mode and its trigger.
constexpr auto kOnePushPause = std::chrono::milliseconds(30);

}  // namespace

const std::array<visca::command_slot, visca::number_of_slots>& visca::sending_order()
{
    return kExecutionOrder;
}

void visca::init_visca_command()
{
    for (int buffer = 0; buffer < number_of_cmd; ++buffer) {
        const std::lock_guard<std::mutex> lock(cam_mutex[buffer]);
        for (const InitialSlot& initial : kInitialSlots) {
            visca_command& command = (this->*initial.slot)[buffer];
            command = visca_command{};
            std::memcpy(command.cmd, initial.packet.begin(), initial.packet.size());
            command.cmd_length = static_cast<int>(initial.packet.size());
        }
    }
}

std::unique_lock<std::mutex> visca::lock_capture_buffer(int& index)
{
    for (;;) {
        const int candidate = cap_cmd_index.load();
        std::unique_lock<std::mutex> lock(cam_mutex[candidate]);
        if (cap_cmd_index.load() == candidate) {
            index = candidate;
            return lock;
        }
    }
}

void visca::notify_captured()
{
    {
        int index = -1;
        const auto lock = lock_capture_buffer(index);
        // The swap count only changes under this lock: the mark names this capture buffer.
        m_captured_swap = exec_swap_count.load();
    }
    m_visca_ndi_event_cond = true;
    m_visca_ndi_event.notify();
}

bool visca::captured_not_taken() const
{
    return m_captured_swap.load() == exec_swap_count.load();
}

void visca::switch_ndi_exebuff()
{
    const int captured = cap_cmd_index.load();
    const std::lock_guard<std::mutex> lock(cam_mutex[captured]);
    exe_cmd_index = captured;
    cap_cmd_index = (captured + 1) % number_of_cmd;
    exec_swap_count = exec_swap_count.load() + 1U;
}

int visca::exec_ndi_visca()
{
    // No lock is held while the execution buffer is sent: producers write only the buffer that
    // is the capture buffer while they hold its lock (lock_capture_buffer checks the index again
    // under the lock), so nobody writes this one until the next swap, and a producer that read
    // the index just before the swap is never held for the whole drain.
    const int buffer = exe_cmd_index.load();
    int sent = 0;
    bool mode_sent = false;
    m_drain_unfinished = false;
    for (const Slot slot : kExecutionOrder) {
        visca_command& command = (this->*slot)[buffer];
        if (!command.cmd_fill) {
            continue;
        }
        // A format change that begins during a drain holds the rest of it until the change ends.
        if (vid_fmt_switch) {
            m_drain_unfinished = true;
            return sent;
        }
        if (slot == &visca::cam_wb_one_push_trig && mode_sent) {
            std::this_thread::sleep_for(kOnePushPause);
        }
        visca_exec_cmd(command);
        mode_sent = mode_sent || slot == &visca::cam_wb_mode;
        ++sent;
    }
    return sent;
}

void visca::exec_visca()
{
    // init_visca has reset the indices and the table before starting this thread, so a producer
    // may fill the capture buffer as soon as the line is open.
    std::puts("exec_visca");
    std::fflush(stdout);
    // When the last drain that sent something began; drains are at least kDrainSpacing apart.
    auto last_drain = std::chrono::steady_clock::time_point{};
    bool drained_before = false;
    while (exec_visca_Running) {
        if (vid_fmt_switch) {
            std::this_thread::sleep_for(kDrainSpacing);
            continue;
        }
        if (m_drain_unfinished) {
            // The rest of a drain that a format change interrupted; it counts as a drain.
            const auto resumed = std::chrono::steady_clock::now();
            if (exec_ndi_visca() > 0) {
                last_drain = resumed;
                drained_before = true;
            }
            continue;
        }
        if (!captured_not_taken()) {
            if (before_wakeup_wait) {
                before_wakeup_wait();
            }
            // The wait checks the capture mark under the event's lock: a producer that captures
            // between the look above and this call is not lost.
            m_visca_ndi_event.wait([this] { return !exec_visca_Running || captured_not_taken(); });
            continue;  // running and the format flag are looked at again first
        }
        const auto now = std::chrono::steady_clock::now();
        if (drained_before && now < last_drain + kDrainSpacing) {
            std::this_thread::sleep_until(last_drain + kDrainSpacing);
            continue;
        }
        switch_ndi_exebuff();
        if (exec_ndi_visca() > 0) {
            last_drain = now;
            drained_before = true;
        }
    }
    init_visca_command();
}
