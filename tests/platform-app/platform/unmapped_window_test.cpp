// Register accesses to a window that is not mapped are refused: reads give 0, writes are dropped,
// and the refusal is said once per window. One test case, because the mapping is process-wide and
// made once.

#include <gtest/gtest.h>

#include <string>

#include "platform/interconnect/interconnect.h"
#include "platform/memory_map/memory_map.h"
#include "support/mem_file.h"
#include "support/temp_board_root.h"

namespace {

size_t count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

TEST(UnmappedWindow, AccessesAreRefusedAndReportedOncePerWindow)
{
    vantor::test::TempBoardRoot root;
    root.make_dir("/dev");

    // Before the mapping exists every access is refused.
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(ReadRegister(OSD_REG_OSD_EN), 0U);
    WriteRegister(OSD_REG_OSD_EN, 1);
    const std::string before = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(count(before, "ERR: register window 0 "), 1U) << before;

    // The stand-in ends where the UHD-SDI window begins: that window and the firmware-update
    // window cannot be mapped, the others can.
    ASSERT_TRUE(vantor::test::create_mem_file(root / "/dev/mem", 0x43C20000));
    ::testing::internal::CaptureStdout();
    InitMmapVirBaseAddr();
    const std::string init = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(count(init, "Could not mmap"), 2U) << init;
    EXPECT_EQ(GetMmapVirBaseAddr(GP2_S_BASE_ADDR), 0U);
    EXPECT_EQ(GetMmapVirBaseAddr(GP3_S_BASE_ADDR), 0U);
    EXPECT_NE(GetMmapVirBaseAddr(GP1_S_BASE_ADDR), 0U);

    ::testing::internal::CaptureStdout();
    WriteRegister(HDMI_REG_STD, 7);
    EXPECT_EQ(ReadRegister(HDMI_REG_STD), 7U);
    for (int i = 0; i < 3; ++i) {
        WriteRegister(UHDSDI_REG_STD, 5);
        EXPECT_EQ(ReadRegister(UHDSDI_REG_STD), 0U);
        EXPECT_EQ(ReadRegister(UHDSDI_REG_UHDSDI_STATUS), 0U);
        EXPECT_EQ(ReadRegister(UPDATE_REG_UPDATE_STATUS), 0U);
    }
    const std::string after = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(count(after, "ERR: register window 2 (0x43c20000) is not mapped"), 1U) << after;
    EXPECT_EQ(count(after, "ERR: register window 3 (0x43c30000) is not mapped"), 1U) << after;
    EXPECT_EQ(count(after, "ERR: register window 1 "), 0U) << after;

    // A value outside the register map is refused too.
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(ReadRegister(REG_MAX), 0U);
    WriteRegister(static_cast<InterConnectRegList>(1000), 1);
    const std::string outside = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(count(outside, "is not in the register map"), 2U) << outside;
}

}  // namespace
