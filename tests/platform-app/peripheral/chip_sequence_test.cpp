// The chip drivers' bus traffic, byte for byte, against the recording I2C bus (which also logs
// every wait in order).

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "peripheral/adv7619/adv7619.h"
#include "peripheral/ds10cp/ds10cp.h"
#include "peripheral/lmh1983/lmh1983.h"
#include "peripheral/sil9136/sil9136.h"
#include "peripheral/ssm2603/ssm2603.h"
#include "support/count_of.h"
#include "support/recording_i2c.h"

namespace {

using vantor::test::count_of;
using vantor::test::RecordingI2c;

// Receiver, common head: reset, 5 ms, (1080 only: reset poll), the maps placed.
const std::string kAdvReset = "4C:FF=80 wait 5";
const std::string kAdvPlace = "4C:F4=80 4C:F5=7C 4C:F8=4C 4C:F9=64 4C:FA=6C 4C:FB=68 4C:FD=44";
const std::string kAdvHdmiTail =
    "34:4E=FE 34:4F=08 34:50=00 34:57=A3 34:58=07 34:6F=08 34:83=FC 34:84=03 34:85=10 "
    "34:86=9B 34:89=03 34:9B=03 34:93=03 34:5A=80 34:9C=80 34:9C=C0 34:9C=00";

const std::string kAdv2160 =
    kAdvReset + " " + kAdvPlace +
    " 34:C0=03 4C:00=19 4C:01=05 4C:02=20 4C:03=94 4C:04? 4C:04=F9 4C:05=28 4C:06=A0 4C:0C=42 "
    "4C:15=80 4C:19=83 4C:33=40 4C:DD=00 4C:E7=04 26:B5=01 26:C3=80 26:CF=03 26:DB=80 "
    "34:C0=03 34:00=08 34:02=03 34:03=98 34:10=A5 34:1B=00 34:45=04 34:97=C0 34:3E=69 "
    "34:3F=46 " +
    kAdvHdmiTail;

const std::string kAdv1080 =
    kAdvReset + " 4C:FF? 4C:FF? " + kAdvPlace +
    " 34:C0=03 4C:00=1E 4C:01=05 4C:02=25 4C:03=80 4C:04? 4C:04=F9 4C:05=28 4C:06=A6 4C:0C=42 "
    "4C:15=80 4C:14? 4C:14=7F 4C:19=83 4C:33=40 22:BA=01 22:6C=00 32:40=81 26:B5=01 "
    "34:C0=03 34:00=08 34:02=03 34:03=98 34:10=A5 34:1B=00 34:45=04 34:97=C0 34:3D=10 "
    "34:3E=69 34:3F=46 " +
    kAdvHdmiTail +
    " 3E:01=00 3E:02=18 3E:03=00 3E:15=01 3E:16=ED 3E:18=46 3E:3B=80 3E:40=80 3E:41=10 "
    "3E:48=08 3E:49=A8 3E:4C=04 3E:55=20 3E:56=08 3E:96=20 3E:98=03 3E:99=02 3E:9C=30 "
    "3E:9D=61 3E:A2=A4 3E:A3=A4 3E:AF=16 3E:BA=60 3E:DE=9C 3E:E4=60 3E:FA=7D";

// Transmitter: the three reset waits, programming mode, page write, D0.
const std::string kSilHead =
    "wait 5 wait 5 wait 5 3B:C7=00 wait 5 3B:BC=01 3B:BD=82 3B:BE=25 3B:1E=00";
const std::string kSilAudio =
    "3B:26=80 3B:1F=80 3B:20=90 3B:21=00 3B:22=00 3B:23=00 3B:24=02 3B:25=0B 3B:27=00";
const std::string kSilAvTail = "3B:0E=AA 3B:0F=10";  // followed by 10 = VIC and 11 to 19 = 00
const std::string kSilZeros11to19 =
    "3B:11=00 3B:12=00 3B:13=00 3B:14=00 3B:15=00 3B:16=00 3B:17=00 3B:18=00 3B:19=00";
const std::string kSilEnd =
    "3B:BF=C2 3B:C0=84 3B:C1=01 3B:C2=0A 3B:C3=70 3B:C4=01 3B:C5=00 3B:C6=00 3B:C7=00 "
    "3B:C8=00 3B:C9=00 3B:CA=00 3B:CB=00 3B:CC=00 3B:CD=00 3B:1A=01 3B:3C=01 wait 1";

I2c g_bus;
Gpio* const kNoResetLine = nullptr;

struct ChipCase {
    const char* name;
    std::function<void()> prepare;  // register contents, queued reads, failures
    std::function<void()> call;
    std::string expected;
};

TEST(ChipSequences, AreSentByteForByte)
{
    Adv7619 adv(&g_bus);
    Sil9136_3 sil(&g_bus, kNoResetLine);
    SSM2603 ssm(&g_bus);
    Lmh1983 lmh(&g_bus);
    Ds10Cp ds(&g_bus);
    const auto nothing = [] {};
    const auto adv_registers = [] {
        RecordingI2c::set(0x4C, 0x04, 0xFF);
        RecordingI2c::set(0x4C, 0x14, 0x40);
        RecordingI2c::queue_reads(0x4C, 0xFF, {0x80, 0x00});  // reset done on the second read
    };
    std::string failed_middle = kAdv2160;
    failed_middle.replace(failed_middle.find("34:10=A5"), 8, "34:10=A5!");

    const ChipCase cases[] = {
        {"receiver 2160-line (16)", adv_registers, [&] { adv.SetAdv7619(VID_6G_2160P23_98); },
         kAdv2160},
        {"receiver dual-link 2160-line (25)", adv_registers,
         [&] { adv.SetAdv7619(VID_DL3G_2160P30); }, kAdv2160},
        {"receiver 1080-line (15)", adv_registers, [&] { adv.SetAdv7619(VID_3G_1080P60); },
         kAdv1080},
        {"receiver bus failure mid-sequence goes on",
         [&] {
             adv_registers();
             RecordingI2c::fail(0x34, 0x10);
         },
         [&] { adv.SetAdv7619(VID_6G_2160P30); }, failed_middle},
        {"receiver unreadable register is not written back",
         [&] {
             adv_registers();
             RecordingI2c::fail(0x4C, 0x04);
         },
         [&] { adv.SetAdv7619(VID_6G_2160P30); },
         std::string(kAdv2160).replace(kAdv2160.find("4C:04? 4C:04=F9"), 15, "4C:04?!")},
        {"receiver unknown standard", nothing, [&] { adv.SetAdv7619(VID_INVALID); }, ""},
        {"transmitter 1080i50 YUV", nothing,
         [&] { EXPECT_EQ(sil.SetSil9136_3(VID_HD_1080I50, COLOR_YUV), 1); },
         kSilHead +
             " 3B:00=01 3B:01=1D 3B:02=88 3B:03=13 3B:04=50 3B:05=0A 3B:06=65 3B:07=04 "
             "3B:08=70 3B:09=0A 3B:0A=06 3B:0B=00 3B:60=84 "
             "3B:62=10 3B:63=42 3B:64=28 3B:65=05 3B:66=2C 3B:67=00 3B:68=02 3B:69=05 " +
             kSilAudio + " 3B:0C=81 3B:0D=20 " + kSilAvTail + " 3B:10=14 " + kSilZeros11to19 +
             " 3B:63=42 " + kSilEnd},
        {"transmitter 2160p30 RGB", nothing,
         [&] { EXPECT_EQ(sil.SetSil9136_3(VID_6G_2160P30, COLOR_RGB), 1); },
         kSilHead +
             " 3B:00=04 3B:01=74 3B:02=B8 3B:03=0B 3B:04=30 3B:05=11 3B:06=CA 3B:07=08 "
             "3B:08=60 3B:09=0A 3B:0A=04 3B:0B=00 3B:60=84 "
             "3B:62=B0 3B:63=40 3B:64=00 3B:65=00 3B:66=58 3B:67=00 3B:68=08 3B:69=0A " +
             kSilAudio + " 3B:0C=56 3B:0D=00 " + kSilAvTail + " 3B:10=5F " + kSilZeros11to19 +
             " 3B:63=40 " + kSilEnd},
        {"transmitter 1080i60 RGB (sync register 60 = 86)", nothing,
         [&] { EXPECT_EQ(sil.SetSil9136_3(VID_HD_1080I60, COLOR_RGB), 1); },
         kSilHead +
             " 3B:00=01 3B:01=1D 3B:02=70 3B:03=17 3B:04=98 3B:05=08 3B:06=32 3B:07=02 "
             "3B:08=70 3B:09=0A 3B:0A=04 3B:0B=00 3B:60=86 "
             "3B:62=58 3B:63=40 3B:64=4C 3B:65=04 3B:66=2C 3B:67=00 3B:68=02 3B:69=05 " +
             kSilAudio + " 3B:0C=B0 3B:0D=00 " + kSilAvTail + " 3B:10=05 " + kSilZeros11to19 +
             " 3B:63=40 " + kSilEnd},
        {"transmitter refuses a standard past the dual-link ones", nothing,
         [&] { EXPECT_EQ(sil.SetSil9136_3(26, COLOR_YUV), 0); }, ""},
        {"transmitter status", nothing, [&] { (void)sil.GetSil9136_3_Debug(); }, "3B:40?"},
        {"codec start: reset, 50 ms, the 9-bit packed set-up, 200 ms, activate", nothing,
         [&] { EXPECT_TRUE(ssm.StartSSM2603()); },
         "1A:1E=00 wait 50 1A:0C=1A 1A:00=17 1A:02=17 1A:08=00 1A:0E=4A 1A:10=00 1A:21=EB "
         "1A:24=F1 wait 200 1A:12=01"},
        {"codec start stops at the first failed write", [] { RecordingI2c::fail(0x1A, 0x02); },
         [&] { EXPECT_FALSE(ssm.StartSSM2603()); }, "1A:1E=00 wait 50 1A:0C=1A 1A:00=17 1A:02=17!"},
        {"codec enable", nothing, [&] { EXPECT_TRUE(ssm.EnableSSM2603()); }, "1A:12=01"},
        {"codec mute", nothing, [&] { EXPECT_TRUE(ssm.MuteSSM2603()); }, "1A:12=00"},
        {"codec bit 8 of the value", nothing, [&] { EXPECT_TRUE(ssm.WriteByte(0x7F, 0x155)); },
         "1A:FF=55"},
        {"clock generator", nothing, [&] { lmh.SetLmh1983(); }, "65:05=80"},
        {"clock generator reference read", nothing, [&] { (void)lmh.GetLmh1983Format(); },
         "65:07? 65:08? 65:20?"},
        {"crosspoint", nothing, [&] { ds.SetDs10Cp(HDMI_INT_SDI_ASYNC); }, "50:00=BB 50:00?"},
    };
    for (const ChipCase& c : cases) {
        RecordingI2c::reset();
        c.prepare();
        ::testing::internal::CaptureStdout();
        c.call();
        (void)::testing::internal::GetCapturedStdout();
        EXPECT_EQ(RecordingI2c::text(), c.expected) << c.name;
    }
}

TEST(ChipSequences, ReceiverResetPollIsBoundedAndEndsAtABusError)
{
    struct Case {
        const char* name;
        bool fails;
        size_t min_polls, max_polls;
        const char* says;
    };
    const Case cases[] = {
        {"the reset never finishes", false, 1, ADV761X_RESET_POLLS,
         "ERR: SetAdv7619: reset not finished"},
        {"the register cannot be read (a hung bus)", true, 1, 1,
         "ERR: SetAdv7619: reset register unreadable"},
    };
    for (const Case& c : cases) {
        RecordingI2c::reset();
        RecordingI2c::set(0x4C, 0xFF, 0x80);
        if (c.fails) {
            RecordingI2c::fail(0x4C, 0xFF);
        }
        Adv7619 adv(&g_bus);
        ::testing::internal::CaptureStdout();
        adv.SetAdv7619(VID_HD_1080P30);
        const std::string out = ::testing::internal::GetCapturedStdout();
        const std::string bus = RecordingI2c::text();
        const size_t polls = count_of(bus, "4C:FF?");
        EXPECT_GE(polls, c.min_polls) << c.name;
        EXPECT_LE(polls, c.max_polls) << c.name;
        EXPECT_EQ(count_of(out, "ERR"), 1U) << c.name << out;
        EXPECT_NE(out.find(c.says), std::string::npos) << c.name << out;
        // The rest of the sequence is sent all the same.
        EXPECT_NE(bus.find("3E:FA=7D"), std::string::npos) << c.name;
    }
}

TEST(ChipSequences, TransmitterStatusNeedsBothBits)
{
    Sil9136_3 sil(&g_bus, kNoResetLine);
    const struct {
        uint8_t status;
        bool fail;
        bool up;
    } cases[] = {{0xC0, false, true},  {0xFF, false, true},  {0x80, false, false},
                 {0x40, false, false}, {0x00, false, false}, {0xC0, true, false}};
    for (const auto& c : cases) {
        RecordingI2c::reset();
        RecordingI2c::set(0x3B, 0x40, c.status);
        if (c.fail) {
            RecordingI2c::fail(0x3B, 0x40);
        }
        EXPECT_EQ(sil.GetSil9136_3_Debug(), c.up) << int{c.status} << " fail " << c.fail;
    }
}

TEST(ChipSequences, ReferenceFormatTable)
{
    Lmh1983 lmh(&g_bus);
    const struct {
        uint8_t code;
        uint32_t std;
    } cases[] = {{4, 2},   {5, 1},    {6, 0},    {12, 15},  {13, 14},  {14, 13}, {15, 12},
                 {16, 11}, {17, 10},  {20, 5},   {21, 4},   {22, 3},   {0, 255}, {7, 255},
                 {3, 255}, {18, 255}, {19, 255}, {23, 255}, {255, 255}};
    for (const auto& c : cases) {
        RecordingI2c::reset();
        RecordingI2c::set(LMH1983_ADDR, 0x20, c.code);
        EXPECT_EQ(static_cast<uint32_t>(lmh.GetLmh1983Format()), c.std) << int{c.code};
    }
    RecordingI2c::reset();
    RecordingI2c::set(LMH1983_ADDR, 0x20, 4);
    RecordingI2c::fail(LMH1983_ADDR, 0x20);
    EXPECT_EQ(lmh.GetLmh1983Format(), VID_INVALID) << "an unreadable reference is no reference";
}

}  // namespace
