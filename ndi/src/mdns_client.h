#pragma once

// One connection to the avahi daemon over D-Bus, run by avahi's own event thread. The daemon may
// be missing at start, stop or restart at any time: the connection waits for it (one line says
// so) and calls `on_running` again each time it is back, so the owner publishes or browses anew.
// Every callback runs on avahi's thread with its lock held; the owner takes the same lock through
// `Lock` before touching avahi objects from another thread.

#include <avahi-client/client.h>
#include <avahi-common/thread-watch.h>

#include <functional>
#include <string>

namespace vantor::ndi {

// This runtime's own service type: its framing is its own, so receivers of other runtimes must
// not be led to connect.
constexpr const char* kMdnsServiceType = "_vantor-ndi._tcp";
// Told in the announcement's TXT record ("proto=2"); raised when the framing changes.
constexpr int kProtocolVersion = 2;

class MdnsClient {
public:
    // `who` names the owner in the lines printed ("sender 'CAM'"). `on_running` is called with the
    // client each time the daemon is reachable; `on_lost` when it went away (its objects are gone).
    MdnsClient(std::string who, std::function<void(AvahiClient*)> on_running,
               std::function<void()> on_lost);
    ~MdnsClient();
    MdnsClient(const MdnsClient&) = delete;
    MdnsClient& operator=(const MdnsClient&) = delete;

    // Starts avahi's thread; false (said once) when even that cannot be had.
    bool start();

    class Lock {
    public:
        explicit Lock(MdnsClient& owner);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        MdnsClient& m_owner;
    };

private:
    static void client_changed(AvahiClient* client, AvahiClientState state, void* self);
    static void retry_due(AvahiTimeout* timeout, void* self);
    void connect();
    void schedule_retry();

    std::string m_who;
    std::function<void(AvahiClient*)> m_on_running;
    std::function<void()> m_on_lost;
    AvahiThreadedPoll* m_poll = nullptr;
    AvahiClient* m_client = nullptr;
    AvahiTimeout* m_retry = nullptr;
    bool m_said_absent = false;
    bool m_failed = false;  // m_client is dead and waits to be freed
    bool m_started = false;
};

}  // namespace vantor::ndi
