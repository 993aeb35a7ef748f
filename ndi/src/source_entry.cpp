#include "source_entry.h"

#include <algorithm>
#include <cctype>

namespace vantor::ndi {

namespace {

std::vector<std::string> group_list(const std::string& text)
{
    std::vector<std::string> groups;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(',', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string group = text.substr(start, end - start);
        const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
        group.erase(group.begin(), std::find_if_not(group.begin(), group.end(), blank));
        group.erase(std::find_if_not(group.rbegin(), group.rend(), blank).base(), group.end());
        std::transform(group.begin(), group.end(), group.begin(), [](char c) {
            return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        });
        if (!group.empty()) {
            groups.push_back(group);
        }
        start = end + 1;
    }
    if (groups.empty()) {
        groups.emplace_back("public");
    }
    return groups;
}

}  // namespace

bool name_matches(const std::string& wanted, const std::string& full_name)
{
    if (wanted == full_name) {
        return true;
    }
    const std::string inner = " (" + wanted + ")";
    return full_name.size() > inner.size() &&
           full_name.compare(full_name.size() - inner.size(), inner.size(), inner) == 0;
}

bool groups_match(const std::string& wanted, const std::string& offered)
{
    const std::vector<std::string> asked = group_list(wanted);
    const std::vector<std::string> given = group_list(offered);
    return std::any_of(asked.begin(), asked.end(), [&given](const std::string& group) {
        return std::find(given.begin(), given.end(), group) != given.end();
    });
}

void merge_sources(std::vector<SourceEntry>& list, const std::vector<SourceEntry>& more)
{
    for (const SourceEntry& entry : more) {
        const bool known = std::any_of(list.begin(), list.end(), [&entry](const SourceEntry& e) {
            return e.name == entry.name;
        });
        if (!known) {
            list.push_back(entry);
        }
    }
}

}  // namespace vantor::ndi
