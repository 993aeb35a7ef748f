#pragma once

// Finding a sender by name on the same machine: each sender keeps a small file in a registry
// folder ("name=", "address=", "groups=", "pid=" lines) while it lives; a receiver looks the name
// up there. The folder is $VANTOR_NDI_REGISTRY, or "vantor-ndi-<uid>" in the system's temporary
// folder ($TMPDIR or /tmp).

#include <string>
#include <vector>

#include "source_entry.h"

namespace vantor::ndi {

std::string registry_directory();

// The registry file of one sender: written when made, removed when destroyed.
class RegistryEntry {
public:
    RegistryEntry(const std::string& name, const std::string& groups, const std::string& address);
    ~RegistryEntry();
    RegistryEntry(const RegistryEntry&) = delete;
    RegistryEntry& operator=(const RegistryEntry&) = delete;

    bool written() const { return !m_path.empty(); }

private:
    std::string m_path;
};

// The living senders of the registry, named "<host name> (<name>)". A folder that is not a
// directory of this user's alone (mode 0700 or stricter) is not trusted: nothing is listed (said
// once). An entry counts as living when its process has the start time written in it, so a pid
// reused by another process does not keep a dead sender's entry alive.
std::vector<SourceEntry> registry_senders();

// The address ("host:port") of a living sender called `name` (or "<host name> (<name>)").
bool find_sender(const std::string& name, std::string& address);

// This machine's host name, as senders' full names begin.
std::string host_name();

}  // namespace vantor::ndi
