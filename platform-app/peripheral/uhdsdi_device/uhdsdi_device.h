#pragma once

// The top of the platform daemon: the chip objects and the two threads. The event thread takes
// the FPGA's command bytes (one per interrupt on "/dev/uio1") and reconfigures the video path;
// the SDI watchdog restarts the path on lost lock, follows the genlock reference and reprograms
// the HDMI transmitter when a display is plugged.
//
// One video-path lock is held for each whole reconfiguration (format change, colour-space stop,
// watchdog restart, genlock and hot-plug handling), so the chip and register sequences of the two
// threads never interleave; the watchdog checks its enable flag again once it holds the lock.

#include <atomic>

#include "peripheral/adv7619/adv7619.h"
#include "peripheral/ds10cp/ds10cp.h"
#include "peripheral/lmh1983/lmh1983.h"
#include "peripheral/sil9136/sil9136.h"
#include "peripheral/ssm2603/ssm2603.h"
#include "peripheral/std/std.h"
#include "platform/i2c/i2c.h"

extern std::atomic<bool> uhdsdi_err_handle_en;

extern I2c hw_i2c;
extern Adv7619 hw_adv7619;
extern Ds10Cp hw_ds10cp;
extern Lmh1983 hw_lmh1983;
extern Gpio hw_sil9136_rst;
extern Sil9136_3 hw_sil9136_3;
extern SSM2603 hw_ssm2603;

// Thread functions; the argument is ignored and neither returns.
void* uhdsdi_device_handle(void* arg);
void* uhdsdi_err_handle(void* arg);

// OSD cleared, both output frame buffers stopped.
void UhdsdiReset();
// One-time chip bring-up, then the platform-ready flag.
void UhdsdiInitPeripheral();
