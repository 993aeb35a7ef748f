#pragma once

// Finding a sender by name on the same machine: each sender keeps a small file in a registry
// folder ("name=", "address=", "groups=", "pid=" lines) while it lives; a receiver looks the name
// up there. The folder is $VANTOR_NDI_REGISTRY, or "vantor-ndi-<uid>" in the system's temporary
// folder ($TMPDIR or /tmp).

#include <string>

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

// The address ("host:port") of a living sender called `name` (or "<host name> (<name>)").
bool find_sender(const std::string& name, std::string& address);

}  // namespace vantor::ndi
