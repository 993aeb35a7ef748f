#include "mdns_announce.h"

#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>

#include <utility>

#include "log.h"

namespace vantor::ndi {

MdnsAnnouncement::MdnsAnnouncement(std::string who, std::string instance, std::uint16_t port,
                                   std::string groups, int interface_index)
    : m_who(std::move(who)), m_instance(std::move(instance)), m_port(port),
      m_groups(std::move(groups)), m_interface(interface_index)
{
    m_client = std::make_unique<MdnsClient>(
        m_who, [this](AvahiClient* client) { publish(client); }, [this] { m_group = nullptr; });
    m_client->start();
}

MdnsAnnouncement::~MdnsAnnouncement()
{
    {
        const MdnsClient::Lock lock(*m_client);
        if (m_group != nullptr) {
            // Withdraws the records at once (the daemon sends their goodbye).
            avahi_entry_group_free(m_group);
            m_group = nullptr;
        }
    }
    m_client.reset();
}

void MdnsAnnouncement::publish(AvahiClient* client)
{
    if (m_group == nullptr) {
        m_group = avahi_entry_group_new(client, group_changed, this);
        if (m_group == nullptr) {
            log_line(m_who +
                     ": cannot announce over mDNS: " + avahi_strerror(avahi_client_errno(client)));
            return;
        }
    }
    if (!avahi_entry_group_is_empty(m_group)) {
        return;
    }
    const std::string groups = "groups=" + m_groups;
    const std::string version = "proto=" + std::to_string(kProtocolVersion);
    const AvahiIfIndex interface = m_interface > 0 ? m_interface : AVAHI_IF_UNSPEC;
    int error = avahi_entry_group_add_service(
        m_group, interface, AVAHI_PROTO_INET, static_cast<AvahiPublishFlags>(0), m_instance.c_str(),
        kMdnsServiceType, nullptr, nullptr, m_port, groups.c_str(), version.c_str(), nullptr);
    if (error == AVAHI_ERR_COLLISION) {
        rename();
        publish(client);
        return;
    }
    if (error == AVAHI_OK) {
        error = avahi_entry_group_commit(m_group);
    }
    if (error != AVAHI_OK) {
        log_line(m_who + ": cannot announce over mDNS: " + avahi_strerror(error));
    }
}

void MdnsAnnouncement::rename()
{
    char* alternative = avahi_alternative_service_name(m_instance.c_str());
    log_line(m_who + ": the mDNS name '" + m_instance + "' is taken; announced as '" + alternative +
             "'");
    m_instance = alternative;
    avahi_free(alternative);
}

void MdnsAnnouncement::group_changed(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self)
{
    auto* owner = static_cast<MdnsAnnouncement*>(self);
    if (state == AVAHI_ENTRY_GROUP_COLLISION) {
        owner->rename();
        avahi_entry_group_reset(group);
        owner->m_group = group;
        owner->publish(avahi_entry_group_get_client(group));
    } else if (state == AVAHI_ENTRY_GROUP_FAILURE) {
        log_line(owner->m_who + ": mDNS announcement failed: " +
                 avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(group))));
    }
}

}  // namespace vantor::ndi
