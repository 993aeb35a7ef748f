#include "camcontrol/Camcontrol.h"

Camcontrol::Camcontrol()
{
    m_visca.camSerial = "/dev/ttyPS1";
    m_visca.camBr = B9600;
    m_visca.camAddress = 1;
    m_visca.exec_visca_Running = true;
    // The bindings are complete from the start: the PTZ settings are read (and preset requests
    // carried out) before the synchronisation thread sets them up again.
    setup_webui_cmd_list();
}

Camcontrol::~Camcontrol()
{
    // A thread still running at destruction would end the program: stop everything first (main
    // normally has done so already).
    const std::thread* threads[] = {&camcontrol_ndi_thread,   &camcontrol_inq_misc_thread,
                                    &camcontrol_voip_thread,  &camcontrol_voip_search_thread,
                                    &camcontrol_vtip_thread,  &ndi_tally_thread,
                                    &camcontrol_webui_thread, &m_visca.exec_visca_thread};
    for (const std::thread* thread : threads) {
        if (thread->joinable()) {
            deinit_Camcontrol();
            return;
        }
    }
}
