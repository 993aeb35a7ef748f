#include "mdns_client.h"

#include <avahi-common/error.h>
#include <avahi-common/timeval.h>

#include <utility>

#include "log.h"

namespace vantor::ndi {

namespace {

// How often a client is made anew while D-Bus itself is unreachable (the daemon absent but D-Bus
// present is waited for by avahi without polling).
constexpr unsigned kRetrySeconds = 2;

}  // namespace

MdnsClient::MdnsClient(std::string who, std::function<void(AvahiClient*)> on_running,
                       std::function<void()> on_lost)
    : m_who(std::move(who)), m_on_running(std::move(on_running)), m_on_lost(std::move(on_lost))
{
}

MdnsClient::~MdnsClient()
{
    if (m_poll == nullptr) {
        return;
    }
    if (m_started) {
        avahi_threaded_poll_stop(m_poll);
    }
    if (m_client != nullptr) {
        avahi_client_free(m_client);
    }
    avahi_threaded_poll_free(m_poll);
}

bool MdnsClient::start()
{
    m_poll = avahi_threaded_poll_new();
    if (m_poll == nullptr) {
        log_line(m_who + ": no mDNS (cannot start avahi's event thread)");
        return false;
    }
    m_retry = avahi_threaded_poll_get(m_poll)->timeout_new(avahi_threaded_poll_get(m_poll), nullptr,
                                                           retry_due, this);
    connect();
    m_started = avahi_threaded_poll_start(m_poll) == 0;
    if (!m_started) {
        log_line(m_who + ": no mDNS (cannot start avahi's event thread)");
    }
    return m_started;
}

void MdnsClient::connect()
{
    int error = 0;
    m_client = avahi_client_new(avahi_threaded_poll_get(m_poll), AVAHI_CLIENT_NO_FAIL,
                                client_changed, this, &error);
    if (m_client == nullptr) {
        if (!m_said_absent) {
            m_said_absent = true;
            log_line(m_who + ": mDNS daemon not reachable (" + avahi_strerror(error) +
                     "); going on without it until it is");
        }
        schedule_retry();
    }
}

void MdnsClient::schedule_retry()
{
    if (m_retry == nullptr) {
        return;
    }
    timeval due{};
    avahi_threaded_poll_get(m_poll)->timeout_update(
        m_retry, avahi_elapse_time(&due, kRetrySeconds * 1000, 0));
}

void MdnsClient::retry_due(AvahiTimeout* /*timeout*/, void* self)
{
    auto* owner = static_cast<MdnsClient*>(self);
    avahi_threaded_poll_get(owner->m_poll)->timeout_update(owner->m_retry, nullptr);
    if (owner->m_client != nullptr && !owner->m_failed) {
        return;
    }
    if (owner->m_client != nullptr) {
        avahi_client_free(owner->m_client);
        owner->m_client = nullptr;
    }
    owner->m_failed = false;
    owner->connect();
}

void MdnsClient::client_changed(AvahiClient* client, AvahiClientState state, void* self)
{
    auto* owner = static_cast<MdnsClient*>(self);
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        if (owner->m_said_absent) {
            log_line(owner->m_who + ": mDNS daemon reachable again");
        }
        owner->m_said_absent = false;
        owner->m_on_running(client);
        break;
    case AVAHI_CLIENT_CONNECTING:
        // The daemon went away (or is not there yet); avahi waits for it on D-Bus.
        if (!owner->m_said_absent) {
            owner->m_said_absent = true;
            log_line(owner->m_who + ": mDNS daemon not running; going on without it until it is");
        }
        owner->m_on_lost();
        break;
    case AVAHI_CLIENT_FAILURE:
        // D-Bus itself went away: this client is dead, a new one is tried later.
        owner->m_on_lost();
        if (!owner->m_said_absent) {
            owner->m_said_absent = true;
            log_line(owner->m_who + ": mDNS connection lost (" +
                     avahi_strerror(avahi_client_errno(client)) + "); going on without it");
        }
        // Freed on the retry, not inside its own callback.
        owner->m_failed = owner->m_client != nullptr;
        owner->schedule_retry();
        break;
    case AVAHI_CLIENT_S_REGISTERING:
    case AVAHI_CLIENT_S_COLLISION:
        break;
    }
}

MdnsClient::Lock::Lock(MdnsClient& owner) : m_owner(owner)
{
    if (m_owner.m_started) {
        avahi_threaded_poll_lock(m_owner.m_poll);
    }
}

MdnsClient::Lock::~Lock()
{
    if (m_owner.m_started) {
        avahi_threaded_poll_unlock(m_owner.m_poll);
    }
}

}  // namespace vantor::ndi
