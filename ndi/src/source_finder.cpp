#include "source_finder.h"

#include "registry.h"

namespace vantor::ndi {

std::vector<SourceEntry> SourceFinder::all() const
{
    std::vector<SourceEntry> list = registry_senders();
    merge_sources(list, m_browser.sources());
    return list;
}

std::vector<SourceEntry> SourceFinder::sources(const std::string& groups) const
{
    std::vector<SourceEntry> list;
    for (SourceEntry& entry : all()) {
        if (groups_match(groups, entry.groups)) {
            list.push_back(std::move(entry));
        }
    }
    return list;
}

bool SourceFinder::find(const std::string& name, std::string& address) const
{
    for (const SourceEntry& entry : all()) {
        if (name_matches(name, entry.name)) {
            address = entry.address;
            return true;
        }
    }
    return false;
}

}  // namespace vantor::ndi
