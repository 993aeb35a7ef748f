#include "platform/eth/eth.h"

#include <cstdio>
#include <cstdlib>

bool NormaliseEthAddress(const std::string& text, std::string& out)
{
    out.clear();
    std::string result;
    size_t pos = 0;
    for (int octet = 0; octet < 4; ++octet) {
        if (octet > 0) {
            if (pos >= text.size() || text[pos] != '.') {
                return false;
            }
            ++pos;
        }
        unsigned value = 0;
        size_t digits = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 4) {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) {
            return false;
        }
        if (octet > 0) {
            result += '.';
        }
        result += std::to_string(value);
    }
    if (pos != text.size()) {
        return false;
    }
    out = result;
    return true;
}

namespace {

bool run_ifconfig(const char* who, const char* argument, const std::string& address)
{
    std::string normalised;
    if (!NormaliseEthAddress(address, normalised)) {
        std::printf("ERR: %s: \"%s\" is not an address, nothing changed\n", who, address.c_str());
        return false;
    }
    const std::string command = std::string("ifconfig eth0 ") + argument + normalised;
    // NOLINTNEXTLINE(cert-env33-c): the command is built from a checked address only.
    const int status = std::system(command.c_str());
    if (status != 0) {
        std::printf("ERR: %s: \"%s\" failed\n", who, command.c_str());
        return false;
    }
    return true;
}

}  // namespace

bool SetEthIp(const std::string& ip)
{
    return run_ifconfig("SetEthIp", "", ip);
}

bool SetEthNetMask(const std::string& mask)
{
    return run_ifconfig("SetEthNetMask", "netmask ", mask);
}

bool SetEthGateWay(const std::string& gateway)
{
    return run_ifconfig("SetEthGateWay", "broadcast ", gateway);
}
