#pragma once

#include <string>

// The texts the NDI senders are created and announced with, built from the network settings
// files. Pure text builders, kept apart from the sender calls so that each text can be checked on
// its own.
//
// Settings values come from GetJsonString, which yields "NULL" for a missing file or key; the
// configuration texts insert values verbatim (a missing "txmcttl" therefore writes `"ttl":NULL`,
// which the runtime treats as a text that is not JSON and answers with its defaults).

inline constexpr const char* kEncoderSettingsPath = "/etc/vantor-enc1-settings.json";
inline constexpr const char* kNdiTxSettingsPath = "/etc/vantor-ndinet-tx-settings.json";
inline constexpr const char* kNdiFindSettingsPath = "/etc/vantor-ndinet-find-settings.json";
inline constexpr const char* kHardwareVersionPath = "/etc/vantor-hardware-version";
inline constexpr const char* kFirmwareVersionPath = "/etc/vantor-firmware-version";
inline constexpr const char* kFailoverSourcePath = "/etc/vantor-source1-name-encfailover";

// Shell commands that give the camera's own IPv4 address and MAC address, and the longest line
// read from each.
inline constexpr const char* kOwnIpCommand =
    "ip addr show eth0 | grep 'inet ' | awk '{print $2}' | cut -f1 -d'/'";
inline constexpr int kOwnIpLineLength = 2047;
inline constexpr const char* kOwnMacCommand = "ifconfig | awk '$0 ~ /HWaddr/ { print $5 }'";
inline constexpr int kOwnMacLineLength = 4095;

inline constexpr const char* kCommsSourceName = "comms";
inline constexpr const char* kCommsGroupName = "Vantor-Comms";
// Source name of the main sender when the settings name none.
inline constexpr const char* kDefaultSourceName = "CAM";

// Transport and discovery settings of the main sender, as read (each may be "NULL").
struct ndi_net_settings {
    std::string txpm;         // "Multi-TCP", "Multicast", "UDP" or anything else (no transport)
    std::string txnetprefix;  // multicast address prefix
    std::string txnetmask;    // multicast netmask
    std::string txmcttl;      // multicast time-to-live, inserted without quotes
    std::string NDIDisServ;   // "NDIDisServEn" switches the discovery server on
    std::string NDIDisServIP;
};

// Reads the transport settings ("/etc/vantor-ndinet-tx-settings.json") and the discovery settings
// ("/etc/vantor-ndinet-find-settings.json").
ndi_net_settings read_ndi_net_settings();

// The main sender's JSON configuration: transport object by "txpm", discovery server when switched
// on and its address is set, and the vendor object.
std::string ndi_main_config_text(const ndi_net_settings& settings);
// The comms sender's JSON configuration: the vendor object only.
std::string ndi_comms_config_text();

// The source name for a "StreamName" setting: the setting itself, or "CAM" for "NULL".
std::string ndi_source_name(const std::string& stream_name);
// True when groups are switched on ("NDIGroup" = "NDIGroupEn") and a group name is set.
bool ndi_groups_enabled(const std::string& ndi_group, const std::string& ndi_group_name);

// Product metadata sent to every receiver that connects.
std::string ndi_product_metadata_text(const std::string& fw_version, const std::string& hw_version,
                                      const std::string& mac_address);
// Capability metadata: PTZ controls and the web-control address http://<ip>/.
std::string ndi_capabilities_metadata_text(const std::string& ip_address);

// Escapes the characters that would end or break an XML attribute value (& < > ").
std::string xml_attribute_text(const std::string& value);

// The first line of a plain text file (system path, resolved through the board root); empty when
// the file cannot be read.
std::string read_first_line(const char* system_path);

// Reads a plain text file the way a line-by-line read that stops at the first failing read leaves
// it: `value` is the text after the file's last line break (the whole text when it has none, empty
// when it ends with a line break). False, `value` untouched, when the file cannot be read.
bool read_after_last_line_break(const std::string& system_path, std::string& value);
