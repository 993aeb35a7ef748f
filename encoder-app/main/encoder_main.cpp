#include "main/encoder_main.h"

#include <fcntl.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>
#include <thread>

#include "HelperLib/sigint_block.h"
#include "HelperLib/thread_wake.h"
#include "main/WebUIStatus.h"
#include "main/settings_agreement.h"
#include "vantor/board_root.h"
#include "vantor/unique_fd.h"

// Construction order matters: the transmitter first, camera control second (destroyed the other
// way round after main returns). Both live in this one file, so the order is the definition order.
NdiTransmitter m_NdiTransmitter;
Camcontrol m_Camcontrol;

std::atomic<bool> main_exit_loop{false};
int encode_started = 0;
int nimbo_vid_format = 0;
int nimbo_vid_format_last = 0;
int display_vid_format = 0;
av_settings m_av_settings;

static_assert(std::atomic<bool>::is_always_lock_free, "main_exit_loop is set by a signal handler");

namespace {

constexpr auto kLoopPeriod = std::chrono::microseconds(500000);

// Interrupted system calls resume after `handler`.
void install_handler(int signal_number, void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    (void)sigaction(signal_number, &action, nullptr);
}

void on_sigpipe(int /*signal_number*/) {}

// SIGINT: only the main thread takes it (every other thread is started with it blocked); the waits
// that must end watch the flags the handler sets.
// SIGPIPE: a write to a pipe whose reader has gone (the dashboard pipe, standard output) fails with
// EPIPE instead of ending the program without its shutdown. Caught by a handler that does nothing
// rather than ignored: a caught signal is reset to its default in the programs started through the
// shell, an ignored one would be inherited by them.
void install_signal_handlers()
{
    install_handler(SIGINT, sigint_handler);
    install_handler(SIGPIPE, on_sigpipe);
}

// Start-up up to the two senders. The threads of the NDI runtime start here, with SIGINT blocked;
// a SIGINT meanwhile is taken when the block ends. Returns the "/dev/mem" descriptor, kept open
// until shutdown.
vantor::UniqueFd start_transmitter()
{
    const SigintBlock runtime_threads_without_sigint;
    updateWebUIstart();
    (void)NDIlib_initialize();
    std::puts("init ndi");

    nimbo_vid_format = 0;
    nimbo_vid_format_last = 0;
    encode_started = 0;

    // Opened for the transmitter's interface; the encoder device is opened by its own path.
    vantor::UniqueFd mem_fd(::open(vantor::board_path("/dev/mem").c_str(), O_RDWR | O_CLOEXEC));
    std::puts("map_NdiTransmitter_mem");
    m_NdiTransmitter.map_NdiTransmitter_mem(mem_fd.get());

    std::puts("adv7619_config()");
    m_NdiTransmitter.creat_ndi_tx_instance();
    m_Camcontrol.ndi_tx_inst = m_NdiTransmitter.ndi_tx_inst;
    return mem_fd;
}

// The settings of this pass: the read, then the agreement with the previous pass.
void read_agreed_settings(settings_agreement& agreement)
{
    std::optional<video_settings> read;
    if (read_av_settings()) {
        read = video_settings{m_av_settings.videoin, display_vid_format, m_av_settings.sr_420_en};
    }
    const video_settings agreed = agreement.pass(read);
    m_av_settings.videoin = agreed.working;
    m_av_settings.sr_420_en = agreed.sr_420_en;
    display_vid_format = agreed.display;
}

void update_status()
{
    updateWebUIStatus(display_vid_format, nimbo_vid_format,
                      m_NdiTransmitter.encoder_pix_format_420);
}

// Tells the camera the format and starts the encoder with it. When the program was interrupted
// while the camera switched, the encoder is not started: the loop ends at its next check.
void start_encoder(int fmt)
{
    m_Camcontrol.set_vid_fmt_Camcontrol(static_cast<uint32_t>(fmt));
    if (main_exit_loop) {
        return;
    }
    encode_started = 1;
    m_NdiTransmitter.encoder_pix_format_420 = encoder_420_for_format(fmt, m_av_settings.sr_420_en);
    std::printf("START NDI Encode with format %x\n", static_cast<unsigned>(fmt));
    std::puts(m_NdiTransmitter.encoder_pix_format_420 == 1 ? "PROG SR 420" : "PROG SR 422");
    {
        const SigintBlock encode_threads_without_sigint;
        m_NdiTransmitter.start_encode(fmt, 0);
    }
    update_status();
}

// `agreement` starts from the settings read at start-up.
void run_main_loop(settings_agreement& agreement)
{
    int display_vid_format_last = display_vid_format;
    while (!main_exit_loop && !m_NdiTransmitter.DeTectStuck) {
        // A status the dashboard did not take last time is offered again, without waiting.
        (void)retry_webui_status();
        read_agreed_settings(agreement);
        const int fmt = m_av_settings.videoin;
        nimbo_vid_format = fmt;
        m_Camcontrol.tally_en = m_NdiTransmitter.tally_en.load();

        bool start = false;
        if (fmt != nimbo_vid_format_last || fmt == 0) {
            if (encode_started == 1) {
                encode_started = 0;
                std::printf("STOP NDI Encode %x\n", static_cast<unsigned>(fmt));
                m_NdiTransmitter.stop_encode();
            }
            start = fmt != 0;
        } else {
            start = encode_started == 0;
        }
        if (start) {
            start_encoder(fmt);
        } else if (encode_started == 1 && display_vid_format != display_vid_format_last) {
            // Same working code, another name for it (2160p29.97 and 2160p30).
            update_status();
        }

        nimbo_vid_format_last = nimbo_vid_format;
        display_vid_format_last = display_vid_format;
        std::this_thread::sleep_for(kLoopPeriod);
    }

    if (encode_started == 1) {
        encode_started = 0;
        std::puts("STOP NDI Encode");
        m_NdiTransmitter.stop_encode();
    }
}

}  // namespace

void sigint_handler(int /*signal_number*/)
{
    main_exit_loop = true;
    m_Camcontrol.camcontrol_interrupted = true;
}

bool read_av_settings()
{
    return read_av_settings(m_av_settings, display_vid_format);
}

int encoder_app_main()
{
    // One line at a time, also into a pipe or a log file, so that nothing is lost or held back.
    (void)std::setvbuf(stdout, nullptr, _IOLBF, 0);

    std::puts("Start Nimbo 4k enc app");
    install_signal_handlers();
    // Stopping interrupts blocking reads with SIGRTMIN; its handler goes in before the NDI
    // runtime or any other thread exists, and a signal someone else already handles is not taken.
    if (!install_wake_signal()) {
        std::puts("SIGRTMIN already has a handler: not started");
        return 1;
    }

    vantor::UniqueFd mem_fd = start_transmitter();

    read_av_settings();
    nimbo_vid_format = m_av_settings.videoin;
    settings_agreement agreement(
        {m_av_settings.videoin, display_vid_format, m_av_settings.sr_420_en});

    // The camera waits below end on SIGINT, so they run with it unblocked; the threads camera
    // control starts are started with it blocked (the VISCA engine's by the engine itself).
    if (m_Camcontrol.cam_init_Camcontrol(static_cast<unsigned>(nimbo_vid_format)) != 0) {
        updateWebUIformat();
        {
            const SigintBlock service_threads_without_sigint;
            m_Camcontrol.init_Camcontrol();
        }
        m_Camcontrol.set_vid_fmt_Camcontrol(static_cast<uint32_t>(nimbo_vid_format));
        std::puts("start main_exit_loop");
        run_main_loop(agreement);
    }

    m_Camcontrol.deinit_Camcontrol();
    m_NdiTransmitter.distroy_ndi_tx_instance();
    m_Camcontrol.ndi_tx_inst = nullptr;
    std::puts("unmap_NdiTransmitter_mem");
    m_NdiTransmitter.unmap_NdiTransmitter_mem();
    mem_fd.reset();
    std::puts("NDIlib_destroy()");
    NDIlib_destroy();
    std::puts("End Nimbo 4k enc app");
    return 0;
}
