// The two NDI senders as the transmitter creates them, seen by real receivers of the NDI runtime:
// names, groups, connection metadata and the failover source; and the failover file.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "NdiTransmitter/NdiTransmitter.h"
#include "NdiTransmitter/ndi_sender_config.h"
#include "support/board_tools.h"
#include "support/temp_board_root.h"

namespace {

using vantor::test::tools_first_in_path;
using vantor::test::write_tool;

using namespace std::chrono_literals;
using vantor::test::read_text;
using vantor::test::ScopedEnv;
using vantor::test::TempBoardRoot;
using vantor::test::TempDir;
using vantor::test::write_text;

constexpr auto kDeadline = 20s;

const char* const kProduct =
    R"(<ndi_product long_name="Vantor Labs Camera" short_name="Camera" manufacturer="Vantor Labs" )"
    R"(version="4.2.0" session="default" model_name="Vantor OPTA R8T" serial="02:00:0A:4D:00:02"/>)";
const char* const kCapabilities =
    R"(<ndi_capabilities ntk_ptz="true" ntk_pan_tilt="true" ntk_zoom="true" ntk_iris="true" )"
    R"(ntk_white_balance="true" ntk_exposure="true" ntk_focus="true" ntk_autofocus="true" )"
    R"(ntk_preset_speed="true" web_control="http://10.77.0.2/"/>)";

// The registry entries ("key=value" lines) of the senders alive in `registry`.
std::vector<std::string> registry_entries(const std::string& registry)
{
    std::vector<std::string> entries;
    DIR* dir = ::opendir(registry.c_str());
    if (dir == nullptr) {
        return entries;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > 7 && name.compare(name.size() - 7, 7, ".sender") == 0) {
            std::string path = registry;
            path += "/";
            path += name;
            entries.push_back(read_text(path));
        }
    }
    ::closedir(dir);
    return entries;
}

class Receiver {
public:
    explicit Receiver(const char* source_name)
    {
        NDIlib_recv_create_v3_t settings;
        settings.source_to_connect_to.p_ndi_name = source_name;
        settings.bandwidth = NDIlib_recv_bandwidth_metadata_only;
        m_recv = NDIlib_recv_create_v3(&settings);
    }
    ~Receiver() { NDIlib_recv_destroy(m_recv); }
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    // Waits until connected and told its sender's name (and failover, when expected).
    bool info(NDIlib_recv_source_info_t& out, bool want_failover)
    {
        const auto end = std::chrono::steady_clock::now() + kDeadline;
        while (std::chrono::steady_clock::now() < end) {
            std::memset(&out, 0, sizeof(out));
            NDIlib_recv_get_source_info(m_recv, &out);
            if (out.connected && out.name[0] != '\0' &&
                (!want_failover || out.failover_name[0] != '\0')) {
                return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    // The next `count` metadata texts.
    std::vector<std::string> metadata(std::size_t count)
    {
        std::vector<std::string> texts;
        const auto end = std::chrono::steady_clock::now() + kDeadline;
        while (texts.size() < count && std::chrono::steady_clock::now() < end) {
            NDIlib_metadata_frame_t frame;
            if (NDIlib_recv_capture_v2(m_recv, nullptr, nullptr, &frame, 100) ==
                NDIlib_frame_type_metadata) {
                texts.emplace_back(frame.p_data);
                NDIlib_recv_free_metadata(m_recv, &frame);
            }
        }
        return texts;
    }

private:
    NDIlib_recv_instance_t m_recv = nullptr;
};

class SenderSetup : public ::testing::Test {
protected:
    SenderSetup()
        : registry_env("VANTOR_NDI_REGISTRY", registry.path()),
          path_env("PATH", tools_first_in_path(tools))
    {
        board.make_dir("/etc");
        write_tool(tools, "ip",
                   "2: eth0: <BROADCAST,MULTICAST,UP> mtu 1500\\n"
                   "    inet 10.77.0.2/24 brd 10.77.0.255 scope global eth0\\n");
        write_tool(tools, "ifconfig",
                   "eth0      Link encap:Ethernet  HWaddr 02:00:0A:4D:00:02\\n"
                   "          inet addr:10.77.0.2  Bcast:10.77.0.255  Mask:255.255.255.0\\n"
                   "lo        Link encap:Local Loopback\\n");
        write_text(board / kHardwareVersionPath, "Vantor OPTA R8T\n");
        write_text(board / kFirmwareVersionPath, "4.2.0\n");
    }
    void SetUp() override { ASSERT_TRUE(NDIlib_initialize()); }
    void TearDown() override
    {
        tx.distroy_ndi_tx_instance();
        NDIlib_destroy();
    }

    // Creates the senders; returns what was printed.
    std::string create()
    {
        ::testing::internal::CaptureStdout();
        tx.creat_ndi_tx_instance();
        return ::testing::internal::GetCapturedStdout();
    }

    TempBoardRoot board;
    TempDir registry;
    TempDir tools;
    ScopedEnv registry_env;
    ScopedEnv path_env;
    NdiTransmitter tx;
};

TEST_F(SenderSetup, NamedSenderWithGroupsMetadataAndFailover)
{
    write_text(
        board / kEncoderSettingsPath,
        R"({"StreamName":"Studio 4","NDIGroup":"NDIGroupEn","NDIGroupName":"studio,public"})");
    write_text(board / kNdiTxSettingsPath, R"({"txpm":"Multi-TCP"})");
    write_text(board / kFailoverSourcePath, "Backup Cam");

    const std::string printed = create();
    ASSERT_NE(tx.ndi_tx_inst, nullptr);
    ASSERT_NE(tx.comms_inst, nullptr);
    EXPECT_EQ(printed,
              std::string("NDI STREAM NAME: Studio 4\n"
                          "NDI GROUP NAME: studio,public\n"
                          "NDIConfigStream\n") +
                  R"({"ndi":{"tcp":{"send":{"enable":true},"recv":{"enable":true}},)"
                  R"("vendor":{"name":"Vantor","id":"6F0D2C1A-93B4-4E07-A5C8-2D61B7E40F93"}}})"
                  "\nHARDWARE Vantor OPTA R8T\n"
                  "FwVersionInFile 4.2.0\n"
                  "IP Address 10.77.0.2\n"
                  "MAC Address 02:00:0A:4D:00:02\n"
                  "NDIProductStream \n" +
                  kProduct + "\nNDICapabilitiesStream \n" + kCapabilities +
                  "\nfailover source name: = 'Backup Cam'\n");
    // No pointer to the call's own strings is left behind.
    EXPECT_EQ(tx.ndi_tx.p_ndi_name, nullptr);
    EXPECT_EQ(tx.p_failover_source.p_ndi_name, nullptr);

    Receiver main_recv("Studio 4");
    NDIlib_recv_source_info_t info{};
    ASSERT_TRUE(main_recv.info(info, true));
    EXPECT_STREQ(info.name, "Studio 4");
    EXPECT_STREQ(info.vendor, "Vantor");
    EXPECT_STREQ(info.failover_name, "Backup Cam");
    EXPECT_STREQ(info.failover_address, "");
    EXPECT_EQ(main_recv.metadata(2), (std::vector<std::string>{kProduct, kCapabilities}));

    Receiver comms_recv("comms");
    ASSERT_TRUE(comms_recv.info(info, false));
    EXPECT_STREQ(info.name, "comms");
    EXPECT_STREQ(info.failover_name, "");

    const std::vector<std::string> entries = registry_entries(registry.path());
    ASSERT_EQ(entries.size(), 2U);
    int found = 0;
    for (const std::string& entry : entries) {
        if (entry.find("name=Studio 4\n") != std::string::npos) {
            EXPECT_NE(entry.find("groups=studio,public\n"), std::string::npos) << entry;
            ++found;
        }
        if (entry.find("name=comms\n") != std::string::npos) {
            EXPECT_NE(entry.find("groups=Vantor-Comms\n"), std::string::npos) << entry;
            ++found;
        }
    }
    EXPECT_EQ(found, 2);
}

TEST_F(SenderSetup, DefaultsWithoutSettings)
{
    // Groups switched off: the group name is ignored. A failover file ending in a line break sets
    // no failover source. Without tools or version files the texts are empty.
    write_text(board / kEncoderSettingsPath, R"({"NDIGroup":"NDIGroupDis","NDIGroupName":"x"})");
    write_text(board / kFailoverSourcePath, "Backup Cam\n");
    write_text(board / kFirmwareVersionPath, "");
    write_tool(tools, "ip", "");
    write_tool(tools, "ifconfig", "");

    const std::string printed = create();
    EXPECT_EQ(printed.find("NDI STREAM NAME"), std::string::npos) << printed;
    EXPECT_EQ(printed.find("NDI GROUP NAME"), std::string::npos) << printed;
    EXPECT_EQ(printed.find("failover"), std::string::npos) << printed;
    EXPECT_NE(printed.find("IP Address \nMAC Address \n"), std::string::npos) << printed;
    EXPECT_NE(printed.find(R"(web_control="http:///"/>)"), std::string::npos) << printed;

    Receiver main_recv("CAM");
    NDIlib_recv_source_info_t info{};
    ASSERT_TRUE(main_recv.info(info, false));
    EXPECT_STREQ(info.name, "CAM");
    EXPECT_STREQ(info.failover_name, "");
    const std::vector<std::string> texts = main_recv.metadata(2);
    ASSERT_EQ(texts.size(), 2U);
    EXPECT_NE(texts[0].find(R"(version="" session="default" model_name="Vantor OPTA R8T")"),
              std::string::npos)
        << texts[0];

    for (const std::string& entry : registry_entries(registry.path())) {
        if (entry.find("name=CAM\n") != std::string::npos) {
            EXPECT_NE(entry.find("groups=\n"), std::string::npos) << entry;
        }
    }
}

TEST_F(SenderSetup, FailoverStringIsCopiedByTheRuntime)
{
    // The failover name lives in a buffer that is overwritten right after the call; a receiver
    // connecting afterwards must still be told the name that was set.
    tx.creat_ndi_tx_instance();
    std::string name = "Spare Camera";
    NDIlib_source_t source;
    source.p_ndi_name = name.c_str();
    NDIlib_send_set_failover(tx.ndi_tx_inst, &source);
    name.assign(name.size(), 'X');

    Receiver recv("CAM");
    NDIlib_recv_source_info_t info{};
    ASSERT_TRUE(recv.info(info, true));
    EXPECT_STREQ(info.failover_name, "Spare Camera");
}

TEST(GetSourceData, TextAfterTheLastLineBreak)
{
    TempBoardRoot board;
    board.make_dir("/etc");
    NdiTransmitter tx;
    std::string file = kFailoverSourcePath;
    std::string data = "stale";

    EXPECT_FALSE(tx.get_source_data(file, data));  // no file

    write_text(board / kFailoverSourcePath, "Backup Cam");
    EXPECT_TRUE(tx.get_source_data(file, data));
    EXPECT_EQ(data, "Backup Cam");

    write_text(board / kFailoverSourcePath, "Backup Cam\n");
    EXPECT_FALSE(tx.get_source_data(file, data));
    EXPECT_EQ(data, "");

    write_text(board / kFailoverSourcePath, "old name\nBackup Cam");
    EXPECT_TRUE(tx.get_source_data(file, data));
    EXPECT_EQ(data, "Backup Cam");

    data = "stale";
    write_text(board / kFailoverSourcePath, "");
    EXPECT_FALSE(tx.get_source_data(file, data));
    EXPECT_EQ(data, "");
}

}  // namespace
