// Creation and destruction of the two NDI senders: the main source (video, PTZ and tally, product
// and capability metadata, failover) and the audio-only "comms" source.
#include <cstdio>
#include <deque>
#include <string>

#include "HelperLib/HelperLib.h"
#include "HelperLib/command_output.h"
#include "NdiTransmitter/NdiTransmitter.h"
#include "NdiTransmitter/ndi_sender_config.h"
#include "vantor/board_root.h"
#include "vantor/file_io.h"

namespace {

// Connection-metadata texts stay allocated for the life of the program: a runtime may refer to
// them after the call instead of copying them. Only creat_ndi_tx_instance adds to this, from the
// main thread.
const char* keep_for_program_life(const std::string& text)
{
    static std::deque<std::string> texts;
    texts.push_back(text);
    return texts.back().c_str();
}

void add_connection_metadata(NDIlib_send_instance_t sender, const std::string& text)
{
    NDIlib_metadata_frame_t frame;
    frame.length = 0;  // the text is NUL-terminated
    frame.timecode = NDIlib_send_timecode_synthesize;
    frame.p_data = const_cast<char*>(keep_for_program_life(text));
    NDIlib_send_add_connection_metadata(sender, &frame);
}

}  // namespace

void NdiTransmitter::creat_ndi_tx_instance()
{
    // The name, group and failover strings live only during this call: the runtime copies them
    // when it receives them, and the records' pointers are cleared again before returning.
    const std::string stream_name = GetJsonString(kEncoderSettingsPath, "StreamName");
    const std::string source_name = ndi_source_name(stream_name);
    ndi_tx.p_ndi_name = source_name.c_str();
    if (stream_name != "NULL") {
        std::printf("NDI STREAM NAME: %s\n", source_name.c_str());
    }

    const std::string ndi_group = GetJsonString(kEncoderSettingsPath, "NDIGroup");
    const std::string ndi_group_name = GetJsonString(kEncoderSettingsPath, "NDIGroupName");
    ndi_tx.p_groups = nullptr;
    if (ndi_groups_enabled(ndi_group, ndi_group_name)) {
        ndi_tx.p_groups = ndi_group_name.c_str();
        std::printf("NDI GROUP NAME: %s\n", ndi_group_name.c_str());
    }

    // No pacing by the runtime: the encoder paces video, audio capture paces audio.
    ndi_tx.clock_video = false;
    ndi_tx.clock_audio = false;

    const ndi_net_settings net_settings = read_ndi_net_settings();
    const std::string NDIConfigStream = ndi_main_config_text(net_settings);
    const std::string NDIConfigStreamComms = ndi_comms_config_text();
    std::printf("NDIConfigStream\n%s\n", NDIConfigStream.c_str());

    ndi_tx_inst = NDIlib_send_create_v2(&ndi_tx, NDIConfigStream.c_str());

    comms_send.p_ndi_name = kCommsSourceName;
    comms_send.p_groups = kCommsGroupName;
    comms_send.clock_video = false;
    comms_send.clock_audio = false;
    comms_inst = NDIlib_send_create_v2(&comms_send, NDIConfigStreamComms.c_str());

    const std::string HwVersion = read_first_line(kHardwareVersionPath);
    std::printf("HARDWARE %s\n", HwVersion.c_str());
    const std::string FwVersion = read_first_line(kFirmwareVersionPath);
    std::printf("FwVersionInFile %s\n", FwVersion.c_str());

    const std::string IPAddress = command_last_line(kOwnIpCommand, kOwnIpLineLength);
    std::printf("IP Address %s\n", IPAddress.c_str());
    const std::string MACAddress = command_last_line(kOwnMacCommand, kOwnMacLineLength);
    std::printf("MAC Address %s\n", MACAddress.c_str());

    const std::string NDIProductStream =
        ndi_product_metadata_text(FwVersion, HwVersion, MACAddress);
    std::printf("NDIProductStream \n%s\n", NDIProductStream.c_str());
    add_connection_metadata(ndi_tx_inst, NDIProductStream);

    const std::string NDICapabilitiesStream = ndi_capabilities_metadata_text(IPAddress);
    std::printf("NDICapabilitiesStream \n%s\n", NDICapabilitiesStream.c_str());
    add_connection_metadata(ndi_tx_inst, NDICapabilitiesStream);

    std::string sSrcFile = kFailoverSourcePath;
    std::string sSrcData;
    if (get_source_data(sSrcFile, sSrcData)) {
        p_failover_source.p_ndi_name = sSrcData.c_str();
        p_failover_source.p_url_address = nullptr;
        std::printf("failover source name: = '%s'\n", sSrcData.c_str());
        NDIlib_send_set_failover(ndi_tx_inst, &p_failover_source);
    }

    // The strings above end here; leave no pointer to them behind.
    ndi_tx.p_ndi_name = nullptr;
    ndi_tx.p_groups = nullptr;
    p_failover_source.p_ndi_name = nullptr;
    std::fflush(stdout);
}

void NdiTransmitter::distroy_ndi_tx_instance()
{
    NDIlib_send_destroy(ndi_tx_inst);
    NDIlib_send_destroy(comms_inst);
    ndi_tx_inst = nullptr;
    comms_inst = nullptr;
}

bool NdiTransmitter::get_source_data(std::string& sFileName, std::string& sData)
{
    // A name without a final line break is taken; a file ending in a line break gives nothing.
    return read_after_last_line_break(sFileName, sData) && !sData.empty();
}
