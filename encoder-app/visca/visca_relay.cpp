#include <chrono>
#include <mutex>
#include <utility>

#include "HelperLib/sigint_block.h"
#include "visca/visca.h"

// Requests of network controllers: their late completions and errors, and the listener that reads
// them from an otherwise idle line.

namespace {

// How often the listener looks at the line while an answer is owed. A completion is three bytes
// (about 3 ms at 9600 baud) that reach the program in one receive-FIFO burst.
constexpr auto kListenPeriod = std::chrono::milliseconds(1);

}  // namespace

void visca::visca_exec_relayed_cmd(visca_command& exec_cmd, visca_reply_packet& refusal)
{
    run_command(exec_cmd, &refusal);
}

void visca::visca_exec_relayed_inq_cmd(visca_inq_command& exec_cmd, visca_reply_packet& refusal)
{
    run_inquiry_transaction(exec_cmd, &refusal);
}

void visca::set_reply_sink(visca_reply_sink sink)
{
    m_late_replies.set_sink(std::move(sink));
}

void visca::forget_late_replies()
{
    m_late_replies.clear();
}

void visca::start_late_reply_listener()
{
    if (m_late_reply_listener.joinable()) {
        return;
    }
    m_late_reply_listening = true;
    const SigintBlock listener_without_sigint;
    m_late_reply_listener = std::thread(&visca::listen_for_late_replies, this);
}

void visca::stop_late_reply_listener()
{
    m_late_reply_listening = false;
    m_late_replies.wake();
    if (m_late_reply_listener.joinable()) {
        m_late_reply_listener.join();
    }
    m_late_replies.clear();
}

void visca::listen_for_late_replies()
{
    while (m_late_reply_listening) {
        m_late_replies.wait_for_entry(m_late_reply_listening);
        // A transaction in progress reads the line itself (and relays what it reads); the
        // listener only takes a line that nobody holds or waits for.
        if (visca_uart_mutex.try_lock()) {
            const std::lock_guard<visca_line_mutex> lock(visca_uart_mutex, std::adopt_lock);
            if (bytes_waiting() > 0) {
                visca_cls_rx();
            }
        }
        std::this_thread::sleep_for(kListenPeriod);
    }
}
