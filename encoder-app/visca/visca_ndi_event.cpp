#include "visca/visca_types.h"

void visca_ndi_event::wait(const std::function<bool()>& ready)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_condVar.wait(lock, [&] { return m_notified || ready(); });
    m_notified = false;
}

void visca_ndi_event::notify()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_notified = true;
    }
    m_condVar.notify_one();
}
