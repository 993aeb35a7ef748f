// platform-app: the platform daemon. Owns the chip objects, maps the FPGA's windows, then runs
// the event thread and the SDI watchdog, which never end.

#include <chrono>
#include <cstdio>
#include <thread>

#include "peripheral/uhdsdi_device/uhdsdi_device.h"
#include "platform/memory_map/memory_map.h"
#include "platform/uio/uio_interrupt.h"
#include "vantor/board_root.h"

namespace {

// Constructed in this order before main, destroyed in reverse; only the reset line touches
// hardware here (it is exported and driven high).
I2c hw_i2c;
Adv7619 hw_adv7619(&hw_i2c);
Ds10Cp hw_ds10cp(&hw_i2c);
Lmh1983 hw_lmh1983(&hw_i2c);
Gpio hw_sil9136_rst(SIL9136_RESET_PIN, GPIO_DIR_OUT, GPIO_LEVEL_HIGH);
Sil9136_3 hw_sil9136_3(&hw_i2c, &hw_sil9136_rst);
SSM2603 hw_ssm2603(&hw_i2c);

UhdsdiDevice& device()
{
    static UhdsdiDevice the_device(
        UhdsdiChips{hw_adv7619, hw_ds10cp, hw_lmh1983, hw_sil9136_3, hw_ssm2603},
        UhdsdiTiming{[] { return std::chrono::steady_clock::now(); },
                     [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); }});
    return the_device;
}

void uhdsdi_device_handle()
{
    UhdsdiDevice& path = device();
    path.Start();
    UioInterrupt uio(vantor::board_path("/dev/uio1"));
    for (;;) {
        const bool interrupted = !path.ShowPending() && uio.Wait();
        path.Pass(interrupted);
    }
}

void uhdsdi_err_handle()
{
    UhdsdiDevice& path = device();
    for (;;) {
        path.WatchdogCycle();
    }
}

}  // namespace

int main()
{
    // One line at a time also when the output is a file or a pipe (the board's logs).
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::puts("----- RUN APP 4k -----");
    std::puts(" Tarnel 7 and 9 FPGA LINUX APP");
    InitMmapVirBaseAddr();
    (void)device();  // constructed before either thread runs
    std::thread event_thread(uhdsdi_device_handle);
    std::thread watchdog_thread(uhdsdi_err_handle);
    event_thread.join();
    watchdog_thread.join();
    std::puts("~over~");
    return 0;
}
