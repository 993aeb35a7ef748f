#pragma once

// Ethernet address setters (part of the platform library; the running daemon does not use them).
// Each runs one "ifconfig eth0 ..." command through the shell. The address is normalised first
// and anything that is not four dotted decimal octets of 0 to 255 is refused with a message before
// any command runs, so no caller's text ever reaches the shell.

#include <string>

// "192.168.001.010" -> "192.168.1.10": leading zeros of each octet dropped, an all-zero octet
// "0". Octets of one to three digits are accepted. Returns false (and leaves `out` empty) for any
// other text.
bool NormaliseEthAddress(const std::string& text, std::string& out);

// "ifconfig eth0 <address>". Returns false when the address is refused or the command fails.
bool SetEthIp(const std::string& ip);
// "ifconfig eth0 netmask <mask>".
bool SetEthNetMask(const std::string& mask);
// "ifconfig eth0 broadcast <address>".
bool SetEthGateWay(const std::string& gateway);
