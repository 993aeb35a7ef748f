#pragma once

// Senders seen by mDNS: browses kMdnsServiceType through the avahi daemon and keeps every
// resolved instance (name, IPv4 address and port, groups from the TXT record) until the daemon
// says it is gone, or the daemon itself goes away. Each instance's resolver stays open while the
// instance is listed, so a sender that restarts under the same name within the records' goodbye
// time (the instance never leaves the list) is followed to its new port.

#include <avahi-client/lookup.h>

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "mdns_client.h"
#include "source_entry.h"

namespace vantor::ndi {

class MdnsBrowser {
public:
    MdnsBrowser();
    ~MdnsBrowser();
    MdnsBrowser(const MdnsBrowser&) = delete;
    MdnsBrowser& operator=(const MdnsBrowser&) = delete;

    std::vector<SourceEntry> sources() const;

private:
    struct Found {
        int interface;
        SourceEntry entry;
    };

    static void browsed(AvahiServiceBrowser* browser, AvahiIfIndex interface,
                        AvahiProtocol protocol, AvahiBrowserEvent event, const char* name,
                        const char* type, const char* domain, AvahiLookupResultFlags flags,
                        void* self);
    static void resolved(AvahiServiceResolver* resolver, AvahiIfIndex interface,
                         AvahiProtocol protocol, AvahiResolverEvent event, const char* name,
                         const char* type, const char* domain, const char* host_name,
                         const AvahiAddress* address, std::uint16_t port, AvahiStringList* txt,
                         AvahiLookupResultFlags flags, void* self);
    void browse(AvahiClient* client);
    void forget(int interface, const std::string& name);

    AvahiServiceBrowser* m_browser = nullptr;  // on avahi's thread only
    // The open resolvers by interface and instance name; on avahi's thread only.
    std::vector<std::pair<std::pair<int, std::string>, AvahiServiceResolver*>> m_resolvers;
    mutable std::mutex m_mutex;
    std::vector<Found> m_found;
    std::unique_ptr<MdnsClient> m_client;
};

}  // namespace vantor::ndi
