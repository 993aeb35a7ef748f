// platform-app: the platform daemon. Maps the FPGA's windows, then runs the event thread and the
// SDI watchdog, which never end.

#include <cstdio>
#include <thread>

#include "peripheral/uhdsdi_device/uhdsdi_device.h"
#include "platform/memory_map/memory_map.h"

int main()
{
    // One line at a time also when the output is a file or a pipe (the board's logs).
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::puts("----- RUN APP 4k -----");
    std::puts(" Tarnel 7 and 9 FPGA LINUX APP");
    InitMmapVirBaseAddr();
    std::thread event_thread(uhdsdi_device_handle, nullptr);
    std::thread watchdog_thread(uhdsdi_err_handle, nullptr);
    event_thread.join();
    watchdog_thread.join();
    std::puts("~over~");
    return 0;
}
