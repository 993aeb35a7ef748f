#include "mdns_announce.h"

#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>

#include <algorithm>
#include <utility>

#include "log.h"

namespace vantor::ndi {

namespace {

// Longest DNS label (an instance name) and TXT string, in bytes.
constexpr std::size_t kMaxLabel = 63;
constexpr std::size_t kMaxTxtString = 255;

// `text` cut to at most `size` bytes, never inside a UTF-8 sequence.
std::string cut_utf8(const std::string& text, std::size_t size)
{
    if (text.size() <= size) {
        return text;
    }
    std::size_t end = size;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0U) == 0x80U) {
        --end;
    }
    return text.substr(0, end);
}

// "groups=<groups>" within a TXT string: whole groups only.
std::string groups_txt(const std::string& groups)
{
    std::string txt = "groups=" + groups;
    if (txt.size() <= kMaxTxtString) {
        return txt;
    }
    const std::size_t comma = txt.rfind(',', kMaxTxtString);
    return comma == std::string::npos ? cut_utf8(txt, kMaxTxtString) : txt.substr(0, comma);
}

}  // namespace

MdnsAnnouncement::MdnsAnnouncement(std::string who, std::string host, std::string name,
                                   std::uint16_t port, std::string groups, int interface_index,
                                   Renamed on_renamed)
    : m_who(std::move(who)), m_host(std::move(host)), m_name(std::move(name)),
      m_on_renamed(std::move(on_renamed)), m_port(port), m_groups(std::move(groups)),
      m_interface(interface_index)
{
    const std::string given = m_name;
    make_instance();
    if (m_name != given) {
        log_line(m_who + ": the name '" + given + "' is too long for mDNS; announced as '" +
                 m_instance + "'");
        m_on_renamed(m_name, m_instance);
    }
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
    const std::string groups = groups_txt(m_groups);
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

void MdnsAnnouncement::make_instance()
{
    const std::size_t frame = std::string(" ()").size();
    const std::string host = cut_utf8(m_host, kMaxLabel - frame - 8);
    const std::size_t room = kMaxLabel - frame - host.size();
    if (m_name.size() > room) {
        // A collision's " #N" stays: cutting it off would collide again for ever.
        const std::size_t mark = m_name.rfind(" #");
        const std::string suffix = mark == std::string::npos ? "" : m_name.substr(mark);
        const std::string base = mark == std::string::npos ? m_name : m_name.substr(0, mark);
        m_name = cut_utf8(base, room - std::min(suffix.size(), room)) + suffix;
    }
    m_instance = host + " (" + m_name + ")";
}

void MdnsAnnouncement::rename()
{
    const std::string taken = m_instance;
    char* alternative = avahi_alternative_service_name(m_name.c_str());
    m_name = alternative;
    avahi_free(alternative);
    make_instance();
    log_line(m_who + ": the mDNS name '" + taken + "' is taken; announced as '" + m_instance + "'");
    m_on_renamed(m_name, m_instance);
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
