// The senders' configuration and metadata texts, and the shell-output helper they are built from.
#include "NdiTransmitter/ndi_sender_config.h"

#include <gtest/gtest.h>

#include <string>

#include "HelperLib/command_output.h"
#include "support/temp_board_root.h"

namespace {

using vantor::test::TempBoardRoot;
using vantor::test::write_text;

const std::string kVendor =
    R"("vendor":{"name":"Vantor","id":"6F0D2C1A-93B4-4E07-A5C8-2D61B7E40F93"})";

ndi_net_settings settings_of(const std::string& txpm, const std::string& dis_serv = "NULL",
                             const std::string& dis_serv_ip = "NULL")
{
    ndi_net_settings settings;
    settings.txpm = txpm;
    settings.txnetprefix = "239.255.0.0";
    settings.txnetmask = "255.255.0.0";
    settings.txmcttl = "4";
    settings.NDIDisServ = dis_serv;
    settings.NDIDisServIP = dis_serv_ip;
    return settings;
}

TEST(NdiMainConfig, TransportObjectFollowsTxpm)
{
    EXPECT_EQ(ndi_main_config_text(settings_of("Multi-TCP")),
              R"({"ndi":{"tcp":{"send":{"enable":true},"recv":{"enable":true}},)" + kVendor + "}}");
    EXPECT_EQ(ndi_main_config_text(settings_of("UDP")),
              R"({"ndi":{"unicast":{"send":{"enable":true},"recv":{"enable":true}},)" + kVendor +
                  "}}");
    EXPECT_EQ(ndi_main_config_text(settings_of("Multicast")),
              R"({"ndi":{"multicast":{"send":{"ttl":4,"enable":true,"netmask":"255.255.0.0",)"
              R"("netprefix":"239.255.0.0"},"recv":{"enable":true}},)" +
                  kVendor + "}}");
    // Unknown, missing or differently cased transports add nothing.
    for (const char* txpm : {"RUDP", "NULL", "multi-tcp", ""}) {
        EXPECT_EQ(ndi_main_config_text(settings_of(txpm)), "{\"ndi\":{" + kVendor + "}}") << txpm;
    }
}

TEST(NdiMainConfig, MulticastWithDiscoveryServer)
{
    EXPECT_EQ(ndi_main_config_text(settings_of("Multicast", "NDIDisServEn", "10.77.0.9")),
              R"({"ndi":{"multicast":{"send":{"ttl":4,"enable":true,"netmask":"255.255.0.0",)"
              R"("netprefix":"239.255.0.0"},"recv":{"enable":true}},)"
              R"("networks":{"discovery": "10.77.0.9"},)" +
                  kVendor + "}}");
}

TEST(NdiMainConfig, DiscoveryNeedsSwitchAndAddress)
{
    const std::string plain =
        R"({"ndi":{"tcp":{"send":{"enable":true},"recv":{"enable":true}},)" + kVendor + "}}";
    EXPECT_EQ(ndi_main_config_text(settings_of("Multi-TCP", "NDIDisServEn", "NULL")), plain);
    EXPECT_EQ(ndi_main_config_text(settings_of("Multi-TCP", "NDIDisServDis", "10.77.0.9")), plain);
    EXPECT_EQ(ndi_main_config_text(settings_of("UDP", "NDIDisServEn", "10.0.0.1")),
              R"({"ndi":{"unicast":{"send":{"enable":true},"recv":{"enable":true}},)"
              R"("networks":{"discovery": "10.0.0.1"},)" +
                  kVendor + "}}");
}

TEST(NdiMainConfig, MissingValuesAreInsertedAsNull)
{
    ndi_net_settings settings = settings_of("Multicast");
    settings.txmcttl = "NULL";
    settings.txnetmask = "NULL";
    const std::string text = ndi_main_config_text(settings);
    EXPECT_NE(text.find(R"("ttl":NULL,)"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("netmask":"NULL")"), std::string::npos) << text;
}

TEST(NdiMainConfig, ReadFromTheSettingsFiles)
{
    TempBoardRoot board;
    board.make_dir("/etc");
    // No files: no transport, no discovery.
    EXPECT_EQ(ndi_main_config_text(read_ndi_net_settings()), "{\"ndi\":{" + kVendor + "}}");

    write_text(board / kNdiTxSettingsPath,
               R"({"txpm":"Multicast","txnetprefix":"239.1.0.0","txnetmask":"255.255.255.0"})");
    write_text(board / kNdiFindSettingsPath,
               R"({"NDIDisServ":"NDIDisServEn","NDIDisServIP":"192.168.1.5"})");
    EXPECT_EQ(ndi_main_config_text(read_ndi_net_settings()),
              R"({"ndi":{"multicast":{"send":{"ttl":NULL,"enable":true,"netmask":"255.255.255.0",)"
              R"("netprefix":"239.1.0.0"},"recv":{"enable":true}},)"
              R"("networks":{"discovery": "192.168.1.5"},)" +
                  kVendor + "}}");
}

// Settings texts that would end their JSON string or change the structure are refused: NULL goes
// in their place, as for a missing setting (no discovery object; the ttl is the runtime's
// not-JSON case).
TEST(NdiMainConfig, SplicedValuesWithQuotesBackslashesOrControlsAreRefused)
{
    TempBoardRoot board;
    board.make_dir("/etc");
    write_text(board / kNdiFindSettingsPath,
               R"({"NDIDisServ":"NDIDisServEn","NDIDisServIP":"10.0.0.1\",\"x\":\"y"})");
    for (const char* ttl : {R"(4,\"enable\":false)", R"(4\\)", "4\t", R"(4\u0001)"}) {
        write_text(board / kNdiTxSettingsPath,
                   std::string(R"({"txpm":"Multicast","txnetprefix":"239.1.0.0",)") +
                       R"("txnetmask":"255.0.0.0\"}","txmcttl":")" + ttl + R"("})");
        EXPECT_EQ(ndi_main_config_text(read_ndi_net_settings()),
                  R"({"ndi":{"multicast":{"send":{"ttl":NULL,"enable":true,"netmask":"NULL",)"
                  R"("netprefix":"239.1.0.0"},"recv":{"enable":true}},)" +
                      kVendor + "}}")
            << ttl;
    }
}

TEST(NdiCommsConfig, VendorOnly)
{
    EXPECT_EQ(ndi_comms_config_text(), "{\"ndi\":{" + kVendor + "}}");
}

TEST(NdiSourceNaming, NameAndGroups)
{
    EXPECT_EQ(ndi_source_name("NULL"), "CAM");
    EXPECT_EQ(ndi_source_name("Studio 4"), "Studio 4");
    EXPECT_TRUE(ndi_groups_enabled("NDIGroupEn", "public,studio"));
    EXPECT_FALSE(ndi_groups_enabled("NDIGroupEn", "NULL"));
    EXPECT_FALSE(ndi_groups_enabled("NDIGroupDis", "studio"));
    EXPECT_FALSE(ndi_groups_enabled("NULL", "studio"));
}

TEST(NdiMetadata, ProductText)
{
    EXPECT_EQ(ndi_product_metadata_text("2.1.7", "Vantor OPTA R8T", "02:00:0a:4d:00:02"),
              R"(<ndi_product long_name="Vantor Labs Camera" short_name="Camera" )"
              R"(manufacturer="Vantor Labs" version="2.1.7" session="default" )"
              R"(model_name="Vantor OPTA R8T" serial="02:00:0a:4d:00:02"/>)");
    EXPECT_EQ(
        ndi_product_metadata_text("", "", ""),
        R"(<ndi_product long_name="Vantor Labs Camera" short_name="Camera" )"
        R"(manufacturer="Vantor Labs" version="" session="default" model_name="" serial=""/>)");
}

TEST(NdiMetadata, CapabilitiesText)
{
    EXPECT_EQ(ndi_capabilities_metadata_text("10.77.0.2"),
              R"(<ndi_capabilities ntk_ptz="true" ntk_pan_tilt="true" ntk_zoom="true" )"
              R"(ntk_iris="true" ntk_white_balance="true" ntk_exposure="true" ntk_focus="true" )"
              R"(ntk_autofocus="true" ntk_preset_speed="true" web_control="http://10.77.0.2/"/>)");
    EXPECT_NE(ndi_capabilities_metadata_text("").find(R"(web_control="http:///"/>)"),
              std::string::npos);
}

TEST(NdiMetadata, AttributeValuesCannotBreakTheXml)
{
    const std::string text = ndi_product_metadata_text(R"(1.0 "beta" <rc> & more)", "A&B", "");
    EXPECT_NE(text.find(R"(version="1.0 &quot;beta&quot; &lt;rc&gt; &amp; more")"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(R"(model_name="A&amp;B")"), std::string::npos) << text;
}

TEST(ReadFirstLine, FirstLineOrEmpty)
{
    TempBoardRoot board;
    board.make_dir("/etc");
    EXPECT_EQ(read_first_line(kFirmwareVersionPath), "");
    write_text(board / kFirmwareVersionPath, "3.0.1\nbuild 77\n");
    EXPECT_EQ(read_first_line(kFirmwareVersionPath), "3.0.1");
    write_text(board / kHardwareVersionPath, "Vantor OPTA S700");
    EXPECT_EQ(read_first_line(kHardwareVersionPath), "Vantor OPTA S700");
    write_text(board / kHardwareVersionPath, "");
    EXPECT_EQ(read_first_line(kHardwareVersionPath), "");
}

TEST(CommandLastLine, KeepsTheLastLineWithoutItsBreak)
{
    EXPECT_EQ(command_last_line("printf '10.0.0.1\\n10.77.0.2\\n'", 2047), "10.77.0.2");
    EXPECT_EQ(command_last_line("printf 'no break at the end'", 2047), "no break at the end");
    EXPECT_EQ(command_last_line("printf 'a\\n\\n'", 2047), "");
}

TEST(CommandLastLine, NothingPrintedOrNoCommandGivesEmptyText)
{
    EXPECT_EQ(command_last_line("true", 2047), "");
    EXPECT_EQ(command_last_line("exit 3", 2047), "");
    EXPECT_EQ(command_last_line("vantor-no-such-tool-here 2>/dev/null", 2047), "");
    EXPECT_EQ(command_last_line(nullptr, 2047), "");
}

TEST(CommandLastLine, LongLinesAreReadInPieces)
{
    // 10 characters per read: "abcdefghijklmno" is read as "abcdefghij" and "klmno".
    EXPECT_EQ(command_last_line("printf 'abcdefghijklmno'", 10), "klmno");
    EXPECT_EQ(command_last_line("printf 'abcdefghij\\n'", 10), "");
}

}  // namespace
