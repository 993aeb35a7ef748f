#pragma once

#include <sys/resource.h>
#include <termios.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "visca/visca_late_replies.h"
#include "visca/visca_line_mutex.h"
#include "visca/visca_types.h"

// The VISCA engine: owns the serial line to the camera module ("/dev/ttyPS1", 9600 baud 8N1) and
// serialises every transaction on it under visca_uart_mutex.
//
//   - visca_exec_cmd: one command with acknowledgement, completion and one retry;
//   - visca_exec_inq_cmd: one inquiry and its reply;
//   - a double-buffered table of pending pan/tilt/zoom/focus/white-balance/exposure commands that
//     the NDI PTZ handler fills and the engine thread (exec_visca) drains as soon as something is
//     captured, at most once per 20 ms, sending at most one command per slot per drain (the last
//     one written).
//
// A producer of the table takes the capture buffer with lock_capture_buffer(), writes slots of
// that buffer and sets their cmd_fill, releases the lock, and then calls notify_captured().
//
// The white-balance one-push trigger slot (cam_wb_one_push_trig) holds the camera's one-push
// trigger command 81 01 04 10 05 FF. Its byte 4 is the trigger value (05), which the PTZ handler
// writes after it selected the one-push white-balance mode, so the slot sends a complete packet.
class visca {
public:
    visca() = default;
    ~visca();
    visca(const visca&) = delete;
    visca& operator=(const visca&) = delete;

    // --- line and bring-up (visca_serial.cpp, visca_camera.cpp) ---

    // Opens camSerial (through the board root), sets 9600 baud 8N1 raw, starts the engine thread.
    // Returns 1 on success, 0 when the device cannot be opened (no thread is started then).
    int init_visca();
    // Closes the line and stops and joins the engine thread, whatever the other threads do.
    void deinit_visca();
    // Presence check: the format-register inquiry; true when the camera answered with a reply.
    bool visca_r8t_init();
    // Writes the camera's video-format register for the application's format code.
    void vid_format_change(int vid_fmt);
    // The format code the camera reports; 0 when unknown or no valid reply came.
    int vid_format_get();
    // The camera's model code into `ret` on a valid version reply; unchanged otherwise.
    int cam_version_get(uint16_t& ret);
    // One-byte inquiry 8x 09 eCmd1st eCmd2nd FF; true and `nValue` on a valid reply.
    bool visca_commandinquiry(uint8_t eCmd1st, uint8_t eCmd2nd, uint8_t& nValue);
    // Switches the camera's on-screen menu off (four checks, a toggle whenever it is shown).
    void close_osd();

    // --- packets and transactions (visca_packet.cpp, visca_transaction.cpp) ---

    // Writes the initial slot table into both buffers (clears every pending flag).
    void init_visca_command();
    // 81 01 cmd_type cmd_id <cmd_bytes parameter bytes: big-endian prefil, right-aligned> FF.
    static void create_command(visca_command& cmd, int cmd_bytes, int cmd_type, int cmd_id,
                               uint64_t prefil);
    // 81 09 cmd_type cmd_id <parameters> FF.
    static void create_inqcommand(visca_inq_command& cmd, int cmd_bytes, int cmd_type, int cmd_id,
                                  uint64_t prefil);

    // One command transaction; the outcome is left in exec_cmd.ack and exec_cmd.comp.
    void visca_exec_cmd(visca_command& exec_cmd);
    // One inquiry transaction; the outcome is left in inq_fill, inq and inq_length.
    void visca_exec_inq_cmd(visca_inq_command& exec_cmd);

    // --- network controllers (visca_relay.cpp) ---

    // As visca_exec_cmd, for a command of a network controller (its cliaddr, sockfd and
    // sequence_number name the requester). Once the camera acknowledged it, its completion or
    // error on that socket goes to the reply sink whenever it is read from the line: within the
    // transaction, or later (until the socket is reused or cleared, or for
    // visca_late_replies::kBound). When the camera refused it, its last error reply is left in
    // `refusal` (length 0 when it answered nothing).
    void visca_exec_relayed_cmd(visca_command& exec_cmd, visca_reply_packet& refusal);
    // As visca_exec_inq_cmd, for a network controller's inquiry; an inquiry the camera answered
    // with an error (90 6y zz FF) is not sent again: the error is left in `refusal`.
    void visca_exec_relayed_inq_cmd(visca_inq_command& exec_cmd, visca_reply_packet& refusal);
    // Where late completions and errors go; set before the first relayed command.
    void set_reply_sink(visca_reply_sink sink);
    // Forgets the answers owed (the sockets they would go out on are about to close).
    void forget_late_replies();

    // The steps of a transaction. They talk to the line directly: call them only while holding
    // visca_uart_mutex (the transactions above do).
    // Waits for an acknowledgement on either command socket (90 41 FF or 90 42 FF; a module still
    // executing a command on socket 1 takes the next one on socket 2) and remembers the socket.
    // A completion that arrives first belongs to an earlier command and is passed over.
    bool visca_wait_for_ack();
    // Waits for the completion on the socket of the last acknowledgement (90 51 FF or 90 52 FF),
    // taken only when nothing else waits behind it. Completions and errors of the other socket
    // are passed over: they belong to an earlier command that is still running.
    bool visca_wait_for_cmp();
    bool visca_wait_for_res(visca_inq_command& res_cmd);
    // Discards the receive queue, including the rest of a packet whose start was already read.
    void visca_cls_rx();

    // --- the command table (visca_command_table.cpp) ---

    // Locks the current capture buffer and reports its index. The index is checked again once the
    // lock is held, so a producer never writes into a buffer that the engine has just taken over.
    std::unique_lock<std::mutex> lock_capture_buffer(int& index);
    // Marks the capture buffer as holding new commands (under its lock), sets
    // m_visca_ndi_event_cond and wakes the engine thread.
    void notify_captured();
    // True while the buffer last marked by notify_captured has not been taken by the engine.
    bool captured_not_taken() const;
    // Makes the capture buffer the execution buffer and counts the swap, under the capture
    // buffer's lock.
    void switch_ndi_exebuff();
    // Sends every pending slot of the execution buffer in the fixed order, pausing before the
    // one-push white-balance trigger that follows its mode. Stops before the next slot when a
    // format change begins (the rest is sent once it ends). Returns the number of commands sent.
    int exec_ndi_visca();
    // The engine thread's body.
    void exec_visca();

    // --- fields ---
    std::string camSerial = "/dev/ttyPS1";
    speed_t camBr = B9600;
    int cam_fd = -1;  // guarded by visca_uart_mutex once the engine runs
    uint8_t camAddress = 1;
    std::atomic<bool> vid_fmt_switch{false};
    std::atomic<int> cap_cmd_index{0};
    std::atomic<int> exe_cmd_index{1};
    // Buffer swaps so far, counted by the engine under the capture buffer's lock.
    std::atomic<uint32_t> exec_swap_count{0};
    static constexpr int number_of_cmd = 2;
    std::mutex cam_mutex[number_of_cmd];
    visca_command cam_vid_fmt;
    visca_inq_command cam_vid_fmt_inq;

    visca_command cam_pt_dir_move_command[number_of_cmd];
    visca_command cam_pt_stop_command[number_of_cmd];
    visca_command cam_pt_home_command[number_of_cmd];
    visca_command cam_pt_reset_command[number_of_cmd];
    visca_command cam_pt_position_command[number_of_cmd];
    visca_command cam_pt_ab_position_command[number_of_cmd];
    visca_command cam_zoom_direct[number_of_cmd];
    visca_command cam_zoom_speed[number_of_cmd];
    visca_command cam_zoom_stop[number_of_cmd];
    visca_command cam_preset_call_rst_recall[number_of_cmd];
    visca_command cam_focus_mode[number_of_cmd];
    visca_command cam_focus_near_far_speed[number_of_cmd];
    visca_command cam_focus_near_far_dir[number_of_cmd];
    visca_command cam_focus_stop[number_of_cmd];
    visca_command cam_wb_mode[number_of_cmd];
    visca_command cam_wb_one_push_trig[number_of_cmd];
    visca_command cam_wb_rg_dir[number_of_cmd];
    visca_command cam_wb_bg_dir[number_of_cmd];
    visca_command cam_exposure_mode[number_of_cmd];
    visca_command cam_exposure_iris_dir[number_of_cmd];
    visca_command cam_exposure_shut_dir[number_of_cmd];
    visca_command cam_exposure_bright_dir[number_of_cmd];
    visca_command cam_exposure_gain_dir[number_of_cmd];
    visca_command cam_exposure_iris_updown[number_of_cmd];
    visca_command cam_exposure_shut_updown[number_of_cmd];
    visca_command cam_exposure_bright_updown[number_of_cmd];
    visca_command cam_misc[number_of_cmd];
    // The slots above, in the order a drain (exec_ndi_visca) sends them.
    using command_slot = visca_command (visca::*)[number_of_cmd];
    static constexpr std::size_t number_of_slots = 27;
    static const std::array<command_slot, number_of_slots>& sending_order();

    // General inquiry slot. The inquiry operations here build their packets in records of their
    // own, so two threads (status poller, format change) never share scratch space.
    visca_inq_command cam_command_inq;
    visca_ndi_event m_visca_ndi_event;
    std::atomic<bool> m_visca_ndi_event_cond{false};
    std::atomic<bool> exec_visca_Running{false};
    visca_line_mutex visca_uart_mutex;
    rusage before2 = {};
    rusage after2 = {};
    termios camOptions = {};
    std::thread exec_visca_thread;

    // Test seam: when set (before init_visca), the engine thread calls it each time it found
    // nothing captured, just before it waits on its wake-up event.
    std::function<void()> before_wakeup_wait;

private:
    // The transactions; `refusal` non-null for a network controller's request.
    void run_command(visca_command& exec_cmd, visca_reply_packet* refusal);
    void run_inquiry_transaction(visca_inq_command& exec_cmd, visca_reply_packet* refusal);
    // Started by init_visca: while an answer is owed, reads the line whenever no transaction
    // holds it, so a late completion is relayed also when nothing else uses the line.
    void listen_for_late_replies();
    void start_late_reply_listener();
    void stop_late_reply_listener();

    // Line helpers (visca_serial.cpp); callers hold visca_uart_mutex.
    int bytes_waiting() const;  // -1 when the line cannot be asked
    // One poll period (1 ms) of waiting for input, ended early by the first byte that arrives, so
    // an answer is read as soon as it is there, not at the next tick.
    void wait_for_input() const;
    bool read_bytes(uint8_t* data, int count);
    // Writes the whole packet, giving up when the line does not take it within a bound.
    bool write_packet(const uint8_t* data, int length) const;
    // Waits, using up `polls` (1 ms apart), for at least three bytes and reads one packet up to
    // its FF. False on a time-out, a packet not from the camera or longer than any reply.
    bool read_packet(visca_reply_packet& packet, int& polls);
    // Sends an inquiry built in `inq` and checks the reply shape: starts 90 50, FF at `ff_index`.
    bool run_inquiry(visca_inq_command& inq, int ff_index);

    // The swap count at which notify_captured last marked the capture buffer; the engine drains
    // only while it equals exec_swap_count (set under the capture buffer's lock).
    std::atomic<uint32_t> m_captured_swap{~0U};
    // A drain that a format change interrupted (engine thread only).
    bool m_drain_unfinished = false;
    uint8_t m_last_rx_byte = 0xFF;  // last byte read from the line; guarded by visca_uart_mutex
    uint8_t m_ack_socket = 1;       // socket of the last acknowledgement; guarded likewise
    // The error packet that ended the last wait for an acknowledgement or reply (length 0: none);
    // guarded likewise.
    visca_reply_packet m_refusal;
    visca_late_replies m_late_replies;
    std::atomic<bool> m_late_reply_listening{false};
    std::thread m_late_reply_listener;
};
