#include "platform/eth/eth.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>

#include "support/temp_board_root.h"

namespace {

using vantor::test::read_text;
using vantor::test::ScopedEnv;
using vantor::test::TempDir;
using vantor::test::write_text;

TEST(EthAddress, ZeroPaddedOctetsAreNormalised)
{
    const std::pair<const char*, const char*> cases[] = {{"192.168.001.010", "192.168.1.10"},
                                                         {"000.000.000.000", "0.0.0.0"},
                                                         {"255.255.255.000", "255.255.255.0"},
                                                         {"10.0.0.1", "10.0.0.1"},
                                                         {"010.100.001.200", "10.100.1.200"}};
    for (const auto& [in, expected] : cases) {
        std::string out;
        EXPECT_TRUE(NormaliseEthAddress(in, out)) << in;
        EXPECT_EQ(out, expected);
    }
}

TEST(EthAddress, AnythingButFourOctetsIsRefused)
{
    for (const char* in : {"", "192.168.1", "192.168.1.1.1", "256.1.1.1", "1.2.3.0004", "1..2.3",
                           "1.2.3.4 ", "1.2.3.4;reboot", "$(reboot)", "-1.2.3.4", "a.b.c.d"}) {
        std::string out = "x";
        EXPECT_FALSE(NormaliseEthAddress(in, out)) << in;
        EXPECT_EQ(out, "");
    }
}

// The setters run "ifconfig eth0 ..." through the shell; a stand-in ifconfig first in PATH records
// its arguments instead of touching a real interface.
TEST(EthAddress, SettersRunIfconfigWithTheNormalisedAddress)
{
    TempDir dir;
    const std::string log = dir / "ifconfig.log";
    write_text(dir / "ifconfig", "#!/bin/sh\necho \"$*\" >> '" + log + "'\n");
    ASSERT_EQ(::chmod((dir / "ifconfig").c_str(), 0755), 0);
    const char* path = std::getenv("PATH");
    ScopedEnv env("PATH", dir.path() + ":" + (path != nullptr ? path : "/usr/bin:/bin"));

    EXPECT_TRUE(SetEthIp("192.168.001.010"));
    EXPECT_TRUE(SetEthNetMask("255.255.255.000"));
    EXPECT_TRUE(SetEthGateWay("192.168.001.255"));
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(SetEthIp("1.2.3.4; touch '" + dir.path() + "/owned'"));
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("ERR: SetEthIp: "), std::string::npos) << out;

    EXPECT_EQ(read_text(log), "eth0 192.168.1.10\n"
                              "eth0 netmask 255.255.255.0\n"
                              "eth0 broadcast 192.168.1.255\n");
    struct stat st {};
    EXPECT_NE(::stat((dir / "owned").c_str(), &st), 0);
}

}  // namespace
