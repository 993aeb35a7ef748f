// The runtime's calls for finding senders, on top of vantor::ndi::SourceFinder.

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Processing.NDI.Lib.h"
#include "source_finder.h"

namespace {

using vantor::ndi::SourceEntry;

struct Finder {
    vantor::ndi::SourceFinder finder;
    std::string groups;
    std::vector<SourceEntry> seen;     // what the last wait saw
    std::vector<SourceEntry> current;  // what the last get gave out
    std::vector<NDIlib_source_t> sources;
};

Finder* finder_of(NDIlib_find_instance_t instance)
{
    return reinterpret_cast<Finder*>(instance);
}

bool same(const std::vector<SourceEntry>& a, const std::vector<SourceEntry>& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].address != b[i].address || a[i].groups != b[i].groups) {
            return false;
        }
    }
    return true;
}

}  // namespace

NDIlib_find_instance_t NDIlib_find_create_v2(const NDIlib_find_create_t* p_create_settings)
{
    auto finder = std::make_unique<Finder>();
    if (p_create_settings != nullptr && p_create_settings->p_groups != nullptr) {
        finder->groups = p_create_settings->p_groups;
    }
    return reinterpret_cast<NDIlib_find_instance_t>(finder.release());
}

void NDIlib_find_destroy(NDIlib_find_instance_t p_instance)
{
    delete finder_of(p_instance);
}

bool NDIlib_find_wait_for_sources(NDIlib_find_instance_t p_instance, uint32_t timeout_in_ms)
{
    Finder* finder = finder_of(p_instance);
    if (finder == nullptr) {
        return false;
    }
    // mDNS answers arrive on avahi's thread; the list is looked at every 50 ms.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_in_ms);
    for (;;) {
        std::vector<SourceEntry> now = finder->finder.sources(finder->groups);
        if (!same(now, finder->seen)) {
            finder->seen = std::move(now);
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

const NDIlib_source_t* NDIlib_find_get_current_sources(NDIlib_find_instance_t p_instance,
                                                       uint32_t* p_no_sources)
{
    Finder* finder = finder_of(p_instance);
    if (finder == nullptr) {
        if (p_no_sources != nullptr) {
            *p_no_sources = 0;
        }
        return nullptr;
    }
    finder->current = finder->finder.sources(finder->groups);
    finder->sources.clear();
    for (const SourceEntry& entry : finder->current) {
        finder->sources.emplace_back(entry.name.c_str(), entry.address.c_str());
    }
    if (p_no_sources != nullptr) {
        *p_no_sources = static_cast<uint32_t>(finder->sources.size());
    }
    return finder->sources.empty() ? nullptr : finder->sources.data();
}

const char* NDIlib_find_get_source_groups(NDIlib_find_instance_t p_instance, uint32_t index)
{
    Finder* finder = finder_of(p_instance);
    if (finder == nullptr || index >= finder->current.size()) {
        return nullptr;
    }
    return finder->current[index].groups.c_str();
}
