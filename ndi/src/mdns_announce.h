#pragma once

// A sender's mDNS announcement through the avahi daemon: service type kMdnsServiceType, instance
// "<host> (<name>)", the sender's port, and a TXT record with its groups ("groups=a,b") and the
// framing's version ("proto=2"). Renamed with avahi's alternative name on a collision (one line);
// published again whenever the daemon comes back; withdrawn when destroyed.

#include <avahi-client/publish.h>

#include <cstdint>
#include <memory>
#include <string>

#include "mdns_client.h"

namespace vantor::ndi {

class MdnsAnnouncement {
public:
    // `interface_index` 0: every interface (AVAHI_IF_UNSPEC).
    MdnsAnnouncement(std::string who, std::string instance, std::uint16_t port, std::string groups,
                     int interface_index);
    ~MdnsAnnouncement();
    MdnsAnnouncement(const MdnsAnnouncement&) = delete;
    MdnsAnnouncement& operator=(const MdnsAnnouncement&) = delete;

private:
    static void group_changed(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self);
    void publish(AvahiClient* client);
    void rename();

    std::string m_who;
    std::string m_instance;
    std::uint16_t m_port;
    std::string m_groups;
    int m_interface;
    AvahiEntryGroup* m_group = nullptr;  // on avahi's thread only
    std::unique_ptr<MdnsClient> m_client;
};

}  // namespace vantor::ndi
