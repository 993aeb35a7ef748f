// The daemon's event loop and SDI watchdog, run on the recording register layer and I2C bus with a
// clock of the test's own; the watchdog's pauses are logged among the bus transactions.

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "peripheral/uhdsdi_device/uhdsdi_device.h"
#include "platform/delay/delay.h"
#include "platform/uhdsdi/fb_uhdsdi.h"
#include "support/count_of.h"
#include "support/recording_i2c.h"
#include "support/recording_registers.h"

namespace {

using std::chrono::milliseconds;
using vantor::test::count_of;
using vantor::test::RecordingI2c;
using vantor::test::RecordingRegisters;

std::chrono::steady_clock::time_point g_now{};

I2c g_bus;
Adv7619 g_adv(&g_bus);
Ds10Cp g_ds(&g_bus);
Lmh1983 g_lmh(&g_bus);
Sil9136_3 g_sil(&g_bus, nullptr);
SSM2603 g_ssm(&g_bus);

UhdsdiTiming test_timing()
{
    return {[] { return g_now; },
            [](milliseconds pause) { Delay_Ms(static_cast<uint32_t>(pause.count())); }};
}

const char* const kFormat1080 = "A5 15 01 0C A5 15 02 0C";
const char* const kCharacter = "A5 50 05 07 00 41";  // 'A' at (5, 7)

// Runs a script on `device`: hexadecimal bytes are taken one per interrupt, "+N" lets N ms pass
// and makes one pass without an interrupt (the poll of a pending show). Returns standard output.
std::string run(UhdsdiDevice& device, const std::vector<std::string>& script)
{
    ::testing::internal::CaptureStdout();
    for (const std::string& line : script) {
        std::istringstream words(line);
        std::string word;
        while (words >> word) {
            if (word[0] == '+') {
                g_now += milliseconds(std::stoi(word.substr(1)));
                RecordingRegisters::set(OSD_REG_CMD_RX_VALID, 0);
                device.Pass(false);
            } else {
                RecordingRegisters::set(OSD_REG_CMD_RX_VALID,
                                        static_cast<uint32_t>(std::stoul(word, nullptr, 16)) << 1 |
                                            1U);
                device.Pass(true);
            }
        }
    }
    RecordingRegisters::set(OSD_REG_CMD_RX_VALID, 0);
    return ::testing::internal::GetCapturedStdout();
}

UhdsdiChips chips()
{
    return {g_adv, g_ds, g_lmh, g_sil, g_ssm};
}

TEST(UhdsdiEventLoop, ShowsOnceAfterTheLastCharacterUnlessCancelled)
{
    struct Case {
        const char* name;
        std::vector<std::string> script;
        size_t shows;
        const char* says;  // a line of standard output
    };
    const Case cases[] = {
        {"a run of characters shows once, 0.1 s after the last",
         {kCharacter, "+60", kCharacter, "+60", kCharacter, "+99", "+2", "+200"},
         1,
         "OSD_Show()"},
        {"a clear cancels the pending show",
         {kCharacter, "+50", "A5 AF", "+200"},
         0,
         "OSD_Clear()"},
        {"a format change cancels it (no empty box)",
         {kCharacter, "+50", kFormat1080, "+200"},
         0,
         "Change UHDSDI STD Format = 12"},
        {"a colour-space command cancels it",
         {kCharacter, "+50", "A5 1A 02", "+200"},
         0,
         "ColorSpace = RGB"},
        {"audio", {"A5 17 02"}, 0, "OSD_CMD_AUDIO =  1"},
        {"MAC", {"A5 32 30 30 41 30 43 39 31 32 33 34 35 36"}, 0, "mac addr = 00A0C9123456"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UhdsdiDevice device(chips(), test_timing());
        (void)run(device, {kFormat1080, "A5 AF"});
        RecordingRegisters::reset();
        const std::string out = run(device, c.script);
        EXPECT_EQ(count_of(out, "OSD_Show()"), c.shows) << out;
        EXPECT_NE(out.find(c.says), std::string::npos) << out;
        EXPECT_FALSE(device.ShowPending());
    }
    // What the commands did: audio to both outputs, the colour space stopped both frame buffers.
    UhdsdiDevice device(chips(), test_timing());
    (void)run(device, {kFormat1080, "A5 17 02"});
    EXPECT_EQ(ReadRegister(HDMI_REG_HDMI_AUD_SW), 1U);
    EXPECT_EQ(ReadRegister(UHDSDI_REG_AUD_EN), 1U);
    (void)run(device, {"A5 1A 03"});
    EXPECT_EQ(ReadRegister(HDMI_REG_FB_R_EN), 0U);
    EXPECT_EQ(ReadRegister(UHDSDI_REG_FB_R_EN), 0U);
}

TEST(UhdsdiEventLoop, AfterAFormatChangeTheBoxHoldsOnlyNewCharacters)
{
    UhdsdiDevice device(chips(), test_timing());
    (void)run(device,
              {kFormat1080, "A5 AF", "A5 50 01 01 00 41", "+50", kFormat1080, kCharacter, "+101"});
    const OSD_Area area = OSD_Get_Area();
    EXPECT_EQ(area.leftup_x, 5);
    EXPECT_EQ(area.leftup_y, 7);
    EXPECT_EQ(area.rightdown_x, 5);
    EXPECT_EQ(area.rightdown_y, 7);
}

// The watchdog's view of the path for one cycle.
struct PathState {
    bool input_locked;
    bool sdi_locked;
    bool display;
    bool link_up;  // the transmitter's status
    bool transmitter_answers;
};

void set_path(const PathState& s)
{
    RecordingRegisters::set(OSD_VIN_LOCKED, s.input_locked ? 1U : 0U);
    RecordingRegisters::set(UHDSDI_REG_UHDSDI_STATUS, s.sdi_locked ? 0x80808080U : 0U);
    RecordingRegisters::set(HDMI_REG_HDBASET_HPD, s.display ? 1U : 0U);
    RecordingI2c::set(SIL9136_TPI_ADDR, 0x40, s.link_up ? 0xC0 : 0x00);
    if (!s.transmitter_answers) {
        RecordingI2c::fail(SIL9136_TPI_ADDR, 0x40);
    }
}

bool gtx_reset_written()
{
    for (const auto& w : RecordingRegisters::writes()) {
        if (w.reg == UHDSDI_REG_GTXRST) {
            return true;
        }
    }
    return false;
}

TEST(UhdsdiWatchdog, RestartsOnlyWhatFailedAndPausesBeforeHotPlug)
{
    constexpr PathState kHealthy{true, true, true, true, true};
    constexpr PathState kSdiOnly{true, true, false, false, true};
    struct Case {
        const char* name;
        std::vector<std::string> before;  // event-loop script
        PathState state;
        const char* says;    // restart reasons, in order ("" none)
        const char* redone;  // reprogrammed: R receiver, G SDI GTX reset, T transmitter
        const char* waits;   // the cycle's pauses
    };
    // clang-format off
    const Case cases[] = {
        {"healthy", {kFormat1080}, kHealthy, "", "", "10000 2000"},
        {"nothing plugged (SDI only) is healthy", {kFormat1080}, kSdiOnly, "", "", "10000 2000"},
        {"SDI only, no transmitter answering", {kFormat1080}, {true, true, false, false, false},
         "", "", "10000 2000"},
        {"SDI lost: only SDI", {kFormat1080}, {true, false, false, false, true},
         "SDI output Reset", "G", "10000 10000"},
        {"display plugged, link down: only HDMI", {kFormat1080}, {true, true, true, false, true},
         "HDMI output Reset", "T", "10000 10000"},
        {"display plugged, transmitter absent: only HDMI", {kFormat1080},
         {true, true, true, true, false}, "HDMI output Reset", "T", "10000 10000"},
        {"input lost: the whole path", {kFormat1080}, {false, true, false, false, true},
         "HDMI input SetAdv7619 Reset", "RGT", "10000 10000"},
        {"before any format change", {}, {false, false, true, false, true}, "", "", "10000"},
        {"after an invalid standard", {kFormat1080, "A5 15 01 0C A5 15 02 FF"}, kSdiOnly, "", "",
         "10000"},
        {"after a colour-space stop", {kFormat1080, "A5 1A 02"}, kSdiOnly, "", "", "10000"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UhdsdiDevice device(chips(), test_timing());
        set_path(c.state);  // as it was at the format change
        (void)run(device, c.before);
        RecordingI2c::reset();
        RecordingRegisters::reset();
        set_path(c.state);
        ::testing::internal::CaptureStdout();
        device.WatchdogCycle();
        const std::string out = ::testing::internal::GetCapturedStdout();
        std::string says;
        for (const char* reason :
             {"HDMI input SetAdv7619 Reset", "SDI output Reset", "HDMI output Reset"}) {
            if (out.find(reason) != std::string::npos) {
                says += (says.empty() ? "" : ", ") + std::string(reason);
            }
        }
        EXPECT_EQ(says, c.says) << out;
        const std::string bus = RecordingI2c::text();
        std::string redone;
        redone += bus.find("4C:FF=80") != std::string::npos ? "R" : "";
        redone += gtx_reset_written() ? "G" : "";
        redone += bus.find("3B:BC=01") != std::string::npos ? "T" : "";
        EXPECT_EQ(redone, c.redone) << bus;
        std::string waits;
        for (const std::string& e : RecordingI2c::log()) {
            if (e.rfind("wait ", 0) == 0 && e.size() > 7) {  // the pauses, not the 1-5 ms waits
                waits += (waits.empty() ? "" : " ") + e.substr(5);
            }
        }
        EXPECT_EQ(waits, c.waits);
    }
}

TEST(UhdsdiWatchdog, HotPlugReprogramsTheTransmitterOnceAfterThePause)
{
    UhdsdiDevice device(chips(), test_timing());
    (void)run(device, {kFormat1080});
    ::testing::internal::CaptureStdout();
    // Unplugged, then plugged: programmed once, after the cycle's pause; unplugging does nothing.
    RecordingI2c::reset();
    RecordingRegisters::reset();
    set_path({true, true, false, false, true});
    device.WatchdogCycle();
    set_path({true, true, true, true, true});
    device.WatchdogCycle();
    const std::string plugged = RecordingI2c::text();
    EXPECT_EQ(count_of(plugged, "3B:BC=01"), 1U);
    EXPECT_LT(plugged.rfind("wait 2000"), plugged.find("3B:BC=01")) << plugged;
    RecordingI2c::reset();
    set_path({true, true, false, false, true});
    device.WatchdogCycle();
    EXPECT_EQ(count_of(RecordingI2c::text(), "3B:BC=01"), 0U);

    // A restart that programs the transmitter for a display just plugged is not followed by a
    // second programming for the same plug.
    RecordingI2c::reset();
    set_path({false, true, true, true, true});
    device.WatchdogCycle();
    EXPECT_EQ(count_of(RecordingI2c::text(), "3B:BC=01"), 1U) << RecordingI2c::text();
    (void)::testing::internal::GetCapturedStdout();
}

}  // namespace
