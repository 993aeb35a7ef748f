// The daemon's register layer and frame-buffer code against the FPGA model, through a real mapped
// "/dev/mem" stand-in file shared by the two processes.

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "fpga_sim_process.h"
#include "platform/hdmi/fb_hdmi.h"
#include "platform/interconnect/interconnect.h"
#include "platform/memory_map/memory_map.h"
#include "platform/uhdsdi/fb_uhdsdi.h"
#include "support/child_process.h"
#include "support/temp_board_root.h"
#include "support/wait_until.h"

namespace {

using vantor::test::FpgaSimProcess;
using vantor::test::TempBoardRoot;

// Without a board root, or with a "/dev/mem" that is not a plain file, the model would map and
// write real memory: it must refuse to start (status 1) and leave the path untouched.
TEST(FpgaSimSafety, RefusesWithoutBoardRootOrWithADeviceAsMem)
{
    struct Case {
        const char* name;
        const char* root;      // VANTOR_ROOT instead of the board's, when not null
        const char* mem_link;  // dev/mem becomes a symlink to this
    };
    const Case cases[] = {
        {"empty root", "", nullptr},
        {"root is /", "/", nullptr},
        {"mem is a character device", nullptr, "/dev/null"},
    };
    for (const Case& c : cases) {
        TempBoardRoot board;
        board.make_dir("/dev");
        if (c.mem_link != nullptr) {
            ASSERT_EQ(::symlink(c.mem_link, (board / "/dev/mem").c_str()), 0);
        }
        std::unique_ptr<vantor::test::ScopedEnv> env;
        if (c.root != nullptr) {
            env = std::make_unique<vantor::test::ScopedEnv>("VANTOR_ROOT", c.root);
        }
        vantor::test::TempDir out;
        vantor::test::ChildStreams streams;
        streams.in.path = "/dev/null";
        streams.err.path = out / "err";
        streams.err.flags = O_WRONLY | O_CREAT | O_TRUNC;
        const pid_t pid =
            vantor::test::start_child({std::string(VANTOR_BIN_DIR) + "/fpga-sim"}, streams);
        ASSERT_GT(pid, 0);
        int status = 0;
        ASSERT_TRUE(vantor::test::wait_until(
            [&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, std::chrono::seconds(10)))
            << c.name;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << c.name;
        EXPECT_NE(vantor::test::read_text(out / "err").find("refusing"), std::string::npos)
            << c.name << ": " << vantor::test::read_text(out / "err");
    }
}

// Runs `action` with standard output captured (the frame-buffer code prints register dumps).
template <typename F> std::string printed(F action)
{
    ::testing::internal::CaptureStdout();
    action();
    return ::testing::internal::GetCapturedStdout();
}

class FpgaSim : public ::testing::Test {
protected:
    // One board root, one model and one mapping per process: the daemon maps its windows once.
    static void SetUpTestSuite()
    {
        s_root = new TempBoardRoot();
        s_root->make_dir("/dev");
        s_sim = new FpgaSimProcess();
        ASSERT_TRUE(s_sim->started()) << s_sim->ready_line();
        (void)printed([] { InitMmapVirBaseAddr(); });
    }
    static void TearDownTestSuite()
    {
        delete s_sim;
        s_sim = nullptr;
        delete s_root;
        s_root = nullptr;
    }
    void SetUp() override
    {
        ASSERT_NE(s_sim, nullptr);
        ASSERT_TRUE(s_sim->started());
        ASSERT_NE(GetMmapVirBaseAddr(GP2_S_BASE_ADDR), 0U);
        // Each test starts from a plugged display and locked links.
        sim().command("hpd plug");
        sim().command("sdi-lock restore");
        sim().command("input-lock restore");
    }

    static FpgaSimProcess& sim() { return *s_sim; }

    // Register name -> value as the model reports it.
    static std::map<std::string, std::string> dump()
    {
        std::map<std::string, std::string> values;
        for (const std::string& line : sim().command("dump")) {
            const size_t space = line.find(' ');
            values[line.substr(0, space)] = line.substr(space + 1);
        }
        return values;
    }

    static TempBoardRoot* s_root;
    static FpgaSimProcess* s_sim;
};

TempBoardRoot* FpgaSim::s_root = nullptr;
FpgaSimProcess* FpgaSim::s_sim = nullptr;

TEST_F(FpgaSim, CreatesASparseMemFileReachingPastEveryWindow)
{
    struct stat st {};
    ASSERT_EQ(::stat((*s_root / "/dev/mem").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(static_cast<unsigned long long>(st.st_size), 0x43C41000ULL);
    // Sparse: far fewer blocks on disk than its length.
    EXPECT_LT(static_cast<unsigned long long>(st.st_blocks) * 512ULL, 64ULL << 20);
}

TEST_F(FpgaSim, SeesEveryRegisterTheDaemonWrites)
{
    for (uint32_t n = 0; n < REG_MAX; ++n) {
        const auto reg = static_cast<InterConnectRegList>(n);
        WriteRegister(reg, 0x5A000000U + n);
    }
    const std::map<std::string, std::string> values = dump();
    ASSERT_EQ(values.size(), size_t{REG_MAX});
    for (uint32_t n = 0; n < REG_MAX; ++n) {
        const auto reg = static_cast<InterConnectRegList>(n);
        char expected[16];
        std::snprintf(expected, sizeof expected, "0x%08x", 0x5A000000U + n);
        const std::string name = InterConnectRegName(reg);
        if (name == "UHDSDI_REG_UHDSDI_STATUS" || name == "HDMI_REG_HDBASET_HPD" ||
            name == "HDMI_REG_TIMER_NUM_WIZ" || name == "HDMI_REG_TIMER_NUM_PIX" ||
            name == "OSD_VIN_LOCKED" || name == "OSD_REG_CMD_RX_VALID" ||
            name == "OSD_REG_CMD_RX_READY") {
            continue;  // driven by the model (the last two by the command channel's hand-shake)
        }
        EXPECT_EQ(values.at(name), expected) << name;
    }
}

TEST_F(FpgaSim, LogsTheWritesOfAFrameBufferStart)
{
    (void)printed([] { FB_Hdmi_Stop_Reg(); });
    WriteRegister(HDMI_REG_STD, VID_INVALID);
    sim().command("log");  // forget what came before

    (void)printed([] { FB_Hdmi_Run_Reg(VID_HD_1080I50); });
    const std::vector<std::string> log = sim().command("log");
    std::map<std::string, std::string> last;
    for (const std::string& line : log) {
        const size_t space = line.find(' ');
        const std::string name = line.substr(0, space);
        EXPECT_EQ(name.rfind("HDMI_REG_", 0), 0U) << line;
        last[name] = line.substr(space + 1);
    }
    EXPECT_EQ(last["HDMI_REG_STD"], "0x00000003");
    EXPECT_EQ(last["HDMI_REG_FB_ADDR_0"], "0x36000000");
    EXPECT_EQ(last["HDMI_REG_FB_W_BYTE"], "0x00000f00");
    EXPECT_EQ(last["HDMI_REG_FB_R_SCAN"], "0x00000001");
    EXPECT_EQ(last["HDMI_REG_FB_W_EN"], "0x00000001");
    EXPECT_EQ(last["HDMI_REG_FB_R_EN"], "0x00000001");
    EXPECT_EQ(last["HDMI_REG_SW_RST"], "0x00000000");
    // Read back, nothing changes, so nothing more is logged.
    EXPECT_TRUE(sim().command("log").empty());
}

TEST_F(FpgaSim, SdiLocksWhileTheOutputRunsAndFollowsLockFaults)
{
    (void)printed([] { FB_UhdSdi_Stop_Reg(); });
    sim().command("sync");
    EXPECT_FALSE(FB_UhdSdi_Get_Status());
    EXPECT_EQ(ReadRegister(UHDSDI_REG_UHDSDI_STATUS), 0x606060U);  // fabric and PLL resets

    (void)printed([] { FB_UhdSdi_Run_Reg(VID_6G_2160P30); });
    sim().command("sync");
    EXPECT_TRUE(FB_UhdSdi_Get_Status());
    EXPECT_EQ(ReadRegister(UHDSDI_REG_UHDSDI_STATUS), 0x818181U);

    for (const char* channel : {"0", "1", "2"}) {
        sim().command(std::string("sdi-lock drop ") + channel);
        EXPECT_FALSE(FB_UhdSdi_Get_Status()) << "channel " << channel;
        sim().command("sdi-lock restore");
        EXPECT_TRUE(FB_UhdSdi_Get_Status());
    }
    sim().command("sdi-lock drop 1");
    EXPECT_EQ(ReadRegister(UHDSDI_REG_UHDSDI_STATUS), 0x810181U);

    // After a restart the link locks again. (The restart's reset pulse, 1 ms wide, is checked
    // with its wait against the recording register layer: this model's 1 ms scan cannot be sure
    // to see it.)
    sim().command("sdi-lock restore");
    FB_UhdSdi_ReStart();
    sim().command("sync");
    EXPECT_TRUE(FB_UhdSdi_Get_Status());
    const std::string diagnostic = printed([] { FB_UhdSdi_Set_GtxRst(); });
    EXPECT_NE(diagnostic.find("chn0_tx_fabric_rst        = "), std::string::npos) << diagnostic;
}

TEST_F(FpgaSim, HotPlugFollowsTheDisplay)
{
    EXPECT_TRUE(FB_Hdmi_Get_Hpd());
    sim().command("hpd unplug");
    EXPECT_FALSE(FB_Hdmi_Get_Hpd());
    sim().command("hpd plug");
    EXPECT_TRUE(FB_Hdmi_Get_Hpd());
}

TEST_F(FpgaSim, PixelClockTimersFollowTheHdmiOutput)
{
    (void)printed([] { FB_Hdmi_Run_Reg(VID_HD_720P59_94); });
    sim().command("sync");
    EXPECT_EQ(ReadRegister(HDMI_REG_TIMER_NUM_WIZ), 74175U);  // 74.25 MHz x 1000/1001 in kHz
    EXPECT_EQ(ReadRegister(HDMI_REG_TIMER_NUM_PIX), 74175U);
    EXPECT_NE(printed([] { FB_Hdmi_PrintTimer(); }).find("TIMER_NUM_DELTA       = 0\n"),
              std::string::npos);

    (void)printed([] { FB_Hdmi_Run_Reg(VID_6G_2160P24); });
    sim().command("sync");
    EXPECT_EQ(ReadRegister(HDMI_REG_TIMER_NUM_PIX), 297000U);

    (void)printed([] { FB_Hdmi_Stop_Reg(); });
    sim().command("sync");
    EXPECT_EQ(ReadRegister(HDMI_REG_TIMER_NUM_PIX), 0U);
    EXPECT_NE(printed([] { FB_Hdmi_PrintTimer(); }).find("TIMER_NUM_DELTA       = 297000\n"),
              std::string::npos);
}

TEST_F(FpgaSim, InputLockAndRefusedCommands)
{
    EXPECT_EQ(ReadRegister(OSD_VIN_LOCKED), 1U);
    sim().command("input-lock drop");
    EXPECT_EQ(ReadRegister(OSD_VIN_LOCKED), 0U);

    // Refused lines name the reason and queue nothing on the command channel.
    const struct {
        const char* line;
        const char* answer;
    } refused[] = {
        {"sdi-lock drop 3", "err unknown command: sdi-lock drop 3"},
        {"feed A5 1G", "err not a hexadecimal byte: 1G"},
        {"feed A5 100", "err not a hexadecimal byte: 100"},
        {"std 12 256", "err unknown command: std 12 256"},
        {"text 0 0 \xff", "err no GB2312 code for the character at byte 0"},
        {"text 0 0 A\xe2\x82", "err no GB2312 code for the character at byte 1"},
        {"feed-file /nonexistent", "err cannot read /nonexistent"},
    };
    for (const auto& r : refused) {
        bool ok = true;
        const std::vector<std::string> reply = sim().command(r.line, ok);
        EXPECT_FALSE(ok) << r.line;
        ASSERT_EQ(reply.size(), 1U) << r.line;
        EXPECT_EQ(reply[0], r.answer);
    }
    EXPECT_EQ(sim().command("channel").at(0).rfind("queued 0 ", 0), 0U);
}

}  // namespace
