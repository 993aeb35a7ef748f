#include "NdiTransmitter/ndi_sender_config.h"

#include <cstdio>

#include "HelperLib/HelperLib.h"
#include "vantor/board_root.h"
#include "vantor/file_io.h"

namespace {

constexpr const char* kNull = "NULL";
constexpr const char* kVendorObject =
    R"("vendor":{"name":"Vantor","id":"6F0D2C1A-93B4-4E07-A5C8-2D61B7E40F93"})";

std::string transport_object(const ndi_net_settings& settings)
{
    if (settings.txpm == "Multi-TCP") {
        return R"("tcp":{"send":{"enable":true},"recv":{"enable":true}},)";
    }
    if (settings.txpm == "Multicast") {
        return R"("multicast":{"send":{"ttl":)" + settings.txmcttl +
               R"(,"enable":true,"netmask":")" + settings.txnetmask + R"(","netprefix":")" +
               settings.txnetprefix + R"("},"recv":{"enable":true}},)";
    }
    if (settings.txpm == "UDP") {
        return R"("unicast":{"send":{"enable":true},"recv":{"enable":true}},)";
    }
    return {};
}

// A settings value spliced into the configuration JSON: one holding a quote, a backslash or a
// control character could end its string or change the structure, so it is refused (one line)
// and NULL goes in its place, as for a missing setting.
std::string spliced_value(const char* path, const char* key)
{
    std::string value = GetJsonString(path, key);
    for (const char c : value) {
        if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            printf("NDIConfigStream: %s in %s refused (holds a quote, backslash or control "
                   "character); NULL used\n",
                   key, path);
            return kNull;
        }
    }
    return value;
}

}  // namespace

ndi_net_settings read_ndi_net_settings()
{
    ndi_net_settings settings;
    settings.txpm = GetJsonString(kNdiTxSettingsPath, "txpm");
    settings.txnetprefix = spliced_value(kNdiTxSettingsPath, "txnetprefix");
    settings.txnetmask = spliced_value(kNdiTxSettingsPath, "txnetmask");
    settings.txmcttl = spliced_value(kNdiTxSettingsPath, "txmcttl");
    settings.NDIDisServ = GetJsonString(kNdiFindSettingsPath, "NDIDisServ");
    settings.NDIDisServIP = spliced_value(kNdiFindSettingsPath, "NDIDisServIP");
    return settings;
}

std::string ndi_main_config_text(const ndi_net_settings& settings)
{
    std::string text = R"({"ndi":{)";
    text += transport_object(settings);
    if (settings.NDIDisServ == "NDIDisServEn" && settings.NDIDisServIP != kNull) {
        text += R"("networks":{"discovery": ")" + settings.NDIDisServIP + R"("},)";
    }
    text += kVendorObject;
    text += "}}";
    return text;
}

std::string ndi_comms_config_text()
{
    return std::string(R"({"ndi":{)") + kVendorObject + "}}";
}

std::string ndi_source_name(const std::string& stream_name)
{
    return stream_name != kNull ? stream_name : kDefaultSourceName;
}

bool ndi_groups_enabled(const std::string& ndi_group, const std::string& ndi_group_name)
{
    return ndi_group == "NDIGroupEn" && ndi_group_name != kNull;
}

std::string xml_attribute_text(const std::string& value)
{
    std::string text;
    text.reserve(value.size());
    for (const char c : value) {
        switch (c) {
        case '&':
            text += "&amp;";
            break;
        case '<':
            text += "&lt;";
            break;
        case '>':
            text += "&gt;";
            break;
        case '"':
            text += "&quot;";
            break;
        default:
            text += c;
            break;
        }
    }
    return text;
}

std::string ndi_product_metadata_text(const std::string& fw_version, const std::string& hw_version,
                                      const std::string& mac_address)
{
    return R"(<ndi_product long_name="Vantor Labs Camera" short_name="Camera" )"
           R"(manufacturer="Vantor Labs" version=")" +
           xml_attribute_text(fw_version) + R"(" session="default" model_name=")" +
           xml_attribute_text(hw_version) + R"(" serial=")" + xml_attribute_text(mac_address) +
           R"("/>)";
}

std::string ndi_capabilities_metadata_text(const std::string& ip_address)
{
    return R"(<ndi_capabilities ntk_ptz="true" ntk_pan_tilt="true" ntk_zoom="true" )"
           R"(ntk_iris="true" ntk_white_balance="true" ntk_exposure="true" ntk_focus="true" )"
           R"(ntk_autofocus="true" ntk_preset_speed="true" web_control="http://)" +
           xml_attribute_text(ip_address) + R"(/"/>)";
}

std::string read_first_line(const char* system_path)
{
    std::string content;
    if (!vantor::read_file(vantor::board_path(system_path), content)) {
        return {};
    }
    return content.substr(0, content.find('\n'));
}

bool read_after_last_line_break(const std::string& system_path, std::string& value)
{
    std::string content;
    if (!vantor::read_file(vantor::board_path(system_path), content)) {
        return false;
    }
    const std::string::size_type last_break = content.rfind('\n');
    value = last_break == std::string::npos ? content : content.substr(last_break + 1);
    return true;
}
