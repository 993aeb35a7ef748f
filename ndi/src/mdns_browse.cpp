#include "mdns_browse.h"

#include <avahi-common/address.h>
#include <avahi-common/malloc.h>

#include <algorithm>
#include <cstring>

namespace vantor::ndi {

namespace {

// The value of "key=value" in a TXT record, or empty.
std::string txt_value(AvahiStringList* txt, const char* key)
{
    AvahiStringList* item = avahi_string_list_find(txt, key);
    char* found_key = nullptr;
    char* value = nullptr;
    std::string text;
    if (item != nullptr && avahi_string_list_get_pair(item, &found_key, &value, nullptr) == 0) {
        text = value != nullptr ? value : "";
        avahi_free(found_key);
        avahi_free(value);
    }
    return text;
}

}  // namespace

MdnsBrowser::MdnsBrowser()
{
    m_client = std::make_unique<MdnsClient>(
        "receiver", [this](AvahiClient* client) { browse(client); },
        [this] {
            m_browser = nullptr;
            m_resolvers.clear();  // gone with the client
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_found.clear();
        });
    m_client->start();
}

MdnsBrowser::~MdnsBrowser()
{
    m_client.reset();
}

std::vector<SourceEntry> MdnsBrowser::sources() const
{
    std::vector<SourceEntry> list;
    const std::lock_guard<std::mutex> lock(m_mutex);
    for (const Found& found : m_found) {
        merge_sources(list, {found.entry});
    }
    return list;
}

void MdnsBrowser::browse(AvahiClient* client)
{
    if (m_browser == nullptr) {
        m_browser =
            avahi_service_browser_new(client, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, kMdnsServiceType,
                                      nullptr, static_cast<AvahiLookupFlags>(0), browsed, this);
    }
}

void MdnsBrowser::forget(int interface, const std::string& name)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_found.erase(std::remove_if(m_found.begin(), m_found.end(),
                                 [&](const Found& found) {
                                     return found.interface == interface &&
                                            found.entry.name == name;
                                 }),
                  m_found.end());
}

void MdnsBrowser::browsed(AvahiServiceBrowser* browser, AvahiIfIndex interface,
                          AvahiProtocol protocol, AvahiBrowserEvent event, const char* name,
                          const char* type, const char* domain, AvahiLookupResultFlags /*flags*/,
                          void* self)
{
    auto* owner = static_cast<MdnsBrowser*>(self);
    if ((event != AVAHI_BROWSER_NEW && event != AVAHI_BROWSER_REMOVE) || name == nullptr) {
        return;  // the other events carry no instance
    }
    auto& resolvers = owner->m_resolvers;
    const auto key = std::make_pair(static_cast<int>(interface), std::string(name));
    const auto open = std::find_if(resolvers.begin(), resolvers.end(),
                                   [&key](const auto& entry) { return entry.first == key; });
    if (event == AVAHI_BROWSER_NEW && open == resolvers.end()) {
        // Kept open while the instance is listed: it reports the records again when they change.
        AvahiServiceResolver* resolver = avahi_service_resolver_new(
            avahi_service_browser_get_client(browser), interface, protocol, name, type, domain,
            AVAHI_PROTO_INET, static_cast<AvahiLookupFlags>(0), resolved, owner);
        if (resolver != nullptr) {
            resolvers.emplace_back(key, resolver);
        }
    } else if (event == AVAHI_BROWSER_REMOVE) {
        if (open != resolvers.end()) {
            avahi_service_resolver_free(open->second);
            resolvers.erase(open);
        }
        owner->forget(interface, name);
    }
}

void MdnsBrowser::resolved(AvahiServiceResolver* resolver, AvahiIfIndex interface,
                           AvahiProtocol /*protocol*/, AvahiResolverEvent event, const char* name,
                           const char* /*type*/, const char* /*domain*/, const char* /*host_name*/,
                           const AvahiAddress* address, std::uint16_t port, AvahiStringList* txt,
                           AvahiLookupResultFlags /*flags*/, void* self)
{
    auto* owner = static_cast<MdnsBrowser*>(self);
    if (event == AVAHI_RESOLVER_FOUND && address != nullptr && address->proto == AVAHI_PROTO_INET) {
        char text[AVAHI_ADDRESS_STR_MAX] = {};
        avahi_address_snprint(text, sizeof text, address);
        Found found{
            interface,
            {name, std::string(text) + ":" + std::to_string(port), txt_value(txt, "groups")}};
        owner->forget(interface, name);
        const std::lock_guard<std::mutex> lock(owner->m_mutex);
        owner->m_found.push_back(std::move(found));
        return;
    }
    if (event == AVAHI_RESOLVER_FAILURE) {
        // Not resolvable (any more): closed, and opened again should the browser list it anew.
        auto& resolvers = owner->m_resolvers;
        resolvers.erase(
            std::remove_if(resolvers.begin(), resolvers.end(),
                           [resolver](const auto& entry) { return entry.second == resolver; }),
            resolvers.end());
        avahi_service_resolver_free(resolver);
    }
}

}  // namespace vantor::ndi
