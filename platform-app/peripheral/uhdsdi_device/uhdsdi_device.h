#pragma once

// The top of the platform daemon: the event loop that carries out the FPGA's commands and the SDI
// watchdog. The program (main.cpp) owns the chip objects and the two threads; this module holds
// what they do, with the clock and the pauses handed in, so that tests run it on a recording
// register layer and I2C bus with a clock of their own.
//
// One video-path lock is held for each whole reconfiguration (format change, colour-space stop,
// audio switch, a watchdog restart, genlock and hot-plug handling), so the chip and register
// sequences of the two threads never interleave; the watchdog checks its enable flag again once
// it holds the lock.

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>

#include "peripheral/adv7619/adv7619.h"
#include "peripheral/ds10cp/ds10cp.h"
#include "peripheral/lmh1983/lmh1983.h"
#include "peripheral/sil9136/sil9136.h"
#include "peripheral/ssm2603/ssm2603.h"
#include "peripheral/std/std.h"
#include "platform/osd/osd.h"
#include "platform/osd/osd_show_timer.h"

// The chips on the bus, owned by the caller.
struct UhdsdiChips {
    Adv7619& adv7619;
    Ds10Cp& ds10cp;
    Lmh1983& lmh1983;
    Sil9136_3& sil9136_3;
    SSM2603& ssm2603;
};

// The time now and a pause: the steady clock and real sleeps in the program, a test's own clock
// and a log of pauses in tests.
struct UhdsdiTiming {
    std::function<std::chrono::steady_clock::time_point()> now;
    std::function<void(std::chrono::milliseconds)> sleep;
};

// OSD cleared, both output frame buffers stopped.
void UhdsdiReset();
// One-time chip bring-up, then the platform-ready flag.
void UhdsdiInitPeripheral(const UhdsdiChips& chips);

class UhdsdiDevice {
public:
    // The watchdog's pauses.
    static constexpr std::chrono::milliseconds kWatchdogPeriod{10000};
    static constexpr std::chrono::milliseconds kHealthyPause{2000};
    static constexpr std::chrono::milliseconds kRestartPause{10000};

    UhdsdiDevice(const UhdsdiChips& chips, UhdsdiTiming timing);

    // Event thread. Start-up: outputs stopped, chips brought up, "Platform Rdy----Done !".
    void Start();
    // While a show is pending the loop polls the command channel instead of waiting for an
    // interrupt.
    bool ShowPending() const { return m_show.pending(); }
    // One pass of the loop: shows the OSD when its delay has passed, then, if an interrupt came
    // (`interrupted`) or a show is pending, takes one command byte and carries out a completed
    // command.
    void Pass(bool interrupted);

    // Watchdog: one whole cycle, pauses included (the first pause comes first).
    void WatchdogCycle();

    std::atomic<bool> uhdsdi_err_handle_en{false};

private:
    void CarryOut(OSD_CmdList cmd);
    void FormatChange();
    // Outputs stopped on purpose (a format change, a colour-space command): the pending show and
    // the drawn area go with the cleared OSD, and the watchdog leaves the stopped path alone.
    void StopOutputs();
    // Judges the path and restarts what failed; true when something was restarted.
    bool CheckAndRestart();
    void FollowGenlockAndHotPlug();

    UhdsdiChips m_chips;
    UhdsdiTiming m_timing;
    OsdShowTimer m_show;

    // Guards the video path and the standards and colour space below (written by the event
    // thread, read by the watchdog).
    std::mutex m_video_path;
    VideoStd_Index hdmistd = VID_INVALID;
    VideoStd_Index uhdsdistd = VID_INVALID;
    OUT_COLOR_SPACE color_type = COLOR_YUV;

    // The hot-plug state the transmitter was last programmed for or seen at (under the lock), and
    // the genlock reference last written (watchdog only).
    bool hpd_st = false;
    VideoStd_Index std_curr = VID_INVALID;
};
