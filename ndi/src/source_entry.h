#pragma once

// A sender as a receiver finds it (in the registry folder or by mDNS), and the rules for picking
// one: by name and by group.

#include <string>
#include <vector>

namespace vantor::ndi {

struct SourceEntry {
    std::string name;     // "<host> (<sender name>)"
    std::string address;  // "a.b.c.d:port"
    std::string groups;   // comma-separated, as the sender gave them
};

// True when `wanted` is the full name, or the sender name inside its parentheses.
bool name_matches(const std::string& wanted, const std::string& full_name);

// True when the comma-separated lists share a group (case-insensitive, blanks around names
// ignored); an empty list stands for "public".
bool groups_match(const std::string& wanted, const std::string& offered);

// Appends the entries of `more` whose name is not in `list` yet.
void merge_sources(std::vector<SourceEntry>& list, const std::vector<SourceEntry>& more);

}  // namespace vantor::ndi
