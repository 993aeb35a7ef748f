#include "source_list.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

namespace ndi_monitor {

int list_sources(const Options& options)
{
    const NDIlib_find_create_t settings(true,
                                        options.groups.empty() ? nullptr : options.groups.c_str());
    NDIlib_find_instance_t finder = NDIlib_find_create_v2(&settings);
    if (finder == nullptr) {
        std::fprintf(stderr, "ndi-monitor: cannot look for sources\n");
        return 1;
    }
    // mDNS answers come in over a moment: collect for the whole time asked for.
    const int seconds = options.seconds > 0 ? options.seconds : 2;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        NDIlib_find_wait_for_sources(finder, static_cast<uint32_t>(std::max<long long>(
                                                 0, static_cast<long long>(left.count()))));
    }
    uint32_t count = 0;
    const NDIlib_source_t* sources = NDIlib_find_get_current_sources(finder, &count);
    std::vector<std::tuple<std::string, std::string, std::string>> lines;
    for (uint32_t i = 0; i < count; ++i) {
        const char* groups = NDIlib_find_get_source_groups(finder, i);
        lines.emplace_back(sources[i].p_ndi_name, sources[i].p_url_address,
                           groups != nullptr && *groups != '\0' ? groups : "public");
    }
    NDIlib_find_destroy(finder);
    std::sort(lines.begin(), lines.end());
    for (const auto& [name, address, groups] : lines) {
        std::printf("%s  %s  groups: %s\n", name.c_str(), address.c_str(), groups.c_str());
    }
    if (lines.empty()) {
        std::printf("no sources\n");
    }
    std::fflush(stdout);
    return 0;
}

}  // namespace ndi_monitor
