#pragma once

// Every sender a receiver can find: those of this machine's registry folder first, then those seen
// by mDNS (browsing starts when the finder is made, so it gets time to collect answers).

#include <string>
#include <vector>

#include "mdns_browse.h"
#include "source_entry.h"

namespace vantor::ndi {

class SourceFinder {
public:
    // The senders sharing a group with `groups` (empty: "public").
    std::vector<SourceEntry> sources(const std::string& groups) const;
    // The address of a sender called `name` (see name_matches), whatever its groups.
    bool find(const std::string& name, std::string& address) const;

private:
    std::vector<SourceEntry> all() const;

    MdnsBrowser m_browser;
};

}  // namespace vantor::ndi
