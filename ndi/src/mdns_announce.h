#pragma once

// A sender's mDNS announcement through the avahi daemon: service type kMdnsServiceType, instance
// "<host> (<name>)", the sender's port, and a TXT record with its groups ("groups=a,b") and the
// framing's version ("proto=2"). On a collision the name becomes avahi's alternative of it
// ("<host> (<name> #2)", one line); a name that would make the instance longer than a DNS label
// (63 bytes) is shortened, and a groups text longer than a TXT string (255 bytes) is cut after its
// last whole group. Either change is told to `on_renamed` with the new name and instance, so the
// sender introduces itself and is found under the name announced. Published again whenever the
// daemon comes back; withdrawn when destroyed.

#include <avahi-client/publish.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "mdns_client.h"

namespace vantor::ndi {

class MdnsAnnouncement {
public:
    using Renamed = std::function<void(const std::string& name, const std::string& instance)>;
    // `interface_index` 0: every interface (AVAHI_IF_UNSPEC). `on_renamed` runs on avahi's thread.
    MdnsAnnouncement(std::string who, std::string host, std::string name, std::uint16_t port,
                     std::string groups, int interface_index, Renamed on_renamed);
    ~MdnsAnnouncement();
    MdnsAnnouncement(const MdnsAnnouncement&) = delete;
    MdnsAnnouncement& operator=(const MdnsAnnouncement&) = delete;

private:
    static void group_changed(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self);
    void publish(AvahiClient* client);
    void rename();
    // The instance for m_name, shortening m_name first where it would not fit a DNS label.
    void make_instance();

    std::string m_who;
    std::string m_host;
    std::string m_name;
    std::string m_instance;
    Renamed m_on_renamed;
    std::uint16_t m_port;
    std::string m_groups;
    int m_interface;
    AvahiEntryGroup* m_group = nullptr;  // on avahi's thread only
    std::unique_ptr<MdnsClient> m_client;
};

}  // namespace vantor::ndi
