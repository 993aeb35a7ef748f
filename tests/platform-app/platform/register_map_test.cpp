// The real register layer against a "/dev/mem" stand-in file: every window is mapped at its
// physical offset, and every register lands at its window's base plus its offset.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/capability.h>
#include <memory>
#include <set>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/interconnect/interconnect.h"
#include "platform/memory_map/memory_map.h"
#include "platform/mmap/mmap.h"
#include "support/mem_file.h"
#include "support/temp_board_root.h"
#include "vantor/unique_fd.h"

namespace {

// Every register window is dense from offset 0 in steps of 4, in register order; the first and
// last register of each window are pinned here, independently of the map's own checks.
constexpr bool window_is_dense(InterConnectRegList first, InterConnectRegList last, Mem_Map_ID id)
{
    for (uint32_t r = first; r <= last; ++r) {
        if (Info[r].id != id || Info[r].offset_addr != (r - first) * 4U) {
            return false;
        }
    }
    return (first == 0 || Info[first - 1].id != id) &&
           (last + 1 == REG_MAX || Info[last + 1].id != id);
}
static_assert(window_is_dense(OSD_REG_OSD_EN, OSD_REG_PLATFORM_RDY, GP0_S_BASE_ADDR), "GP0");
static_assert(window_is_dense(HDMI_REG_STATIC_EN, HDMI_REG_TIMER_NUM_PIX, GP1_S_BASE_ADDR), "GP1");
static_assert(window_is_dense(UHDSDI_REG_STATIC_EN, UHDSDI_REG_UHDSDI_STATUS, GP2_S_BASE_ADDR),
              "GP2");
static_assert(window_is_dense(UPDATE_REG_UPLOAD_RESULT_EN, UPDATE_REG_UPDATE_STATUS,
                              GP3_S_BASE_ADDR),
              "GP3");
static_assert(OSD_REG_PLATFORM_RDY == 27 && HDMI_REG_TIMER_NUM_PIX == 53 &&
                  UHDSDI_REG_UHDSDI_STATUS == 76 && UPDATE_REG_UPDATE_STATUS == 81,
              "28, 26, 23 and 5 registers");

using vantor::test::TempBoardRoot;

class RegisterMap : public ::testing::Test {
protected:
    // One board root and one mapping for the whole process: the windows stay mapped for the life
    // of the process, as in the daemon.
    static void SetUpTestSuite()
    {
        s_root = new TempBoardRoot();
        s_root->make_dir("/dev");
        s_mem_path = *s_root / "/dev/mem";
        ASSERT_TRUE(vantor::test::create_mem_file(s_mem_path, vantor::test::kFullMemFileSize));
        ::testing::internal::CaptureStdout();
        InitMmapVirBaseAddr();
        s_init_output = ::testing::internal::GetCapturedStdout();
    }
    static void TearDownTestSuite()
    {
        delete s_root;
        s_root = nullptr;
    }

    static TempBoardRoot* s_root;
    static std::string s_mem_path;
    static std::string s_init_output;
};

TempBoardRoot* RegisterMap::s_root = nullptr;
std::string RegisterMap::s_mem_path;
std::string RegisterMap::s_init_output;

TEST_F(RegisterMap, EveryWindowIsMappedAndReported)
{
    std::set<size_t> bases;
    for (uint32_t id = 0; id < MAX_Mem_Map_ID; ++id) {
        const size_t base = GetMmapVirBaseAddr(static_cast<Mem_Map_ID>(id));
        EXPECT_NE(base, 0U) << "window " << id;
        bases.insert(base);
        const std::string line = " new Blocks[i] : i = " + std::to_string(id) + "  phy.addr =  ";
        EXPECT_NE(s_init_output.find(line), std::string::npos) << s_init_output;
    }
    EXPECT_EQ(bases.size(), size_t{MAX_Mem_Map_ID});
    EXPECT_NE(s_init_output.find("phy.addr =  43c00000"), std::string::npos) << s_init_output;
}

TEST_F(RegisterMap, IdentifiersAboveTheTableGiveZero)
{
    for (uint32_t id : {8U, 9U, 255U, 0xFFFFFFFFU}) {
        EXPECT_EQ(GetMmapVirBaseAddr(static_cast<Mem_Map_ID>(id)), 0U) << id;
    }
}

TEST_F(RegisterMap, EveryRegisterLandsAtItsWindowBasePlusItsOffset)
{
    vantor::UniqueFd file(::open(s_mem_path.c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_TRUE(file);
    for (uint32_t n = 0; n < REG_MAX; ++n) {
        const auto reg = static_cast<InterConnectRegList>(n);
        const uint32_t value = 0xA5000000U | (n << 8) | n;
        WriteRegister(reg, value);
        const auto at =
            static_cast<off_t>(Mem_Map_Str_Table[Info[n].id].PhyBaseAddr + Info[n].offset_addr);
        uint32_t in_file = 0;
        ASSERT_EQ(::pread(file.get(), &in_file, 4, at), 4);
        EXPECT_EQ(in_file, value) << InterConnectRegName(reg);
        EXPECT_EQ(ReadRegister(reg), value) << InterConnectRegName(reg);

        // And the other way: what another process puts in the file is what the daemon reads.
        const uint32_t from_outside = ~value;
        ASSERT_EQ(::pwrite(file.get(), &from_outside, 4, at), 4);
        EXPECT_EQ(ReadRegister(reg), from_outside) << InterConnectRegName(reg);
    }
}

TEST_F(RegisterMap, MemoryWindowsAreTheFileAtTheirPhysicalAddress)
{
    vantor::UniqueFd file(::open(s_mem_path.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(file);
    for (uint32_t id = GP0_M_BASE_ADDR; id < MAX_Mem_Map_ID; ++id) {
        // NOLINTNEXTLINE(performance-no-int-to-ptr): the window base is handed out as an integer
        auto* base = reinterpret_cast<unsigned char*>(GetMmapVirBaseAddr(Mem_Map_ID(id)));
        ASSERT_NE(base, nullptr);
        const size_t last = Mem_Map_Str_Table[id].SizeByte - 1;
        base[0] = static_cast<unsigned char>(0x10 + id);
        base[last] = static_cast<unsigned char>(0x20 + id);
        unsigned char first_byte = 0;
        unsigned char last_byte = 0;
        const auto phy = static_cast<off_t>(Mem_Map_Str_Table[id].PhyBaseAddr);
        ASSERT_EQ(::pread(file.get(), &first_byte, 1, phy), 1);
        ASSERT_EQ(::pread(file.get(), &last_byte, 1, phy + static_cast<off_t>(last)), 1);
        EXPECT_EQ(first_byte, 0x10 + id);
        EXPECT_EQ(last_byte, 0x20 + id);
    }
}

// A window that does not start on a page keeps its sub-page offset: the mapping starts at the page
// boundary below it and the window's address is that plus the offset.
TEST_F(RegisterMap, AWindowOffThePageBoundaryKeepsItsSubPageOffset)
{
    const auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    const size_t phy = 3 * page + 0x234;
    ::testing::internal::CaptureStdout();
    {
        MemBlock block(phy, 0x100, true, 0x5A);
        ASSERT_TRUE(block.mapped());
        EXPECT_EQ(block.offset, size_t{0x234});
        EXPECT_EQ(block.addr() % page, size_t{0x234});
        EXPECT_EQ(block.addr(), reinterpret_cast<size_t>(block.vir_addr) + 0x234);
        EXPECT_EQ(block.max_size, page);
        EXPECT_EQ(block.size(), size_t{0x100});
        EXPECT_EQ(block.relative_addr(), block.vir_addr + 0x234);
        EXPECT_EQ(block.relative_addr(phy + 0x10), block.vir_addr + 0x244);
        EXPECT_EQ(block.relative_addr(phy + 0x100), nullptr);
        EXPECT_EQ(block.relative_addr(phy - 1), nullptr);
    }
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Run : MemBlock::~MemBlock() "), std::string::npos) << out;

    // init_val filled exactly the window's bytes.
    vantor::UniqueFd file(::open(s_mem_path.c_str(), O_RDONLY | O_CLOEXEC));
    unsigned char bytes[0x102] = {};
    ASSERT_EQ(::pread(file.get(), bytes, sizeof bytes, static_cast<off_t>(phy - 1)),
              static_cast<ssize_t>(sizeof bytes));
    EXPECT_EQ(bytes[0], 0);
    for (size_t i = 1; i <= 0x100; ++i) {
        ASSERT_EQ(bytes[i], 0x5A) << i;
    }
    EXPECT_EQ(bytes[0x101], 0);
}

// A window that crosses a page boundary is mapped far enough to reach its last byte.
TEST_F(RegisterMap, AWindowAcrossAPageBoundaryIsMappedToItsEnd)
{
    const auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    const size_t phy = 8 * page - 8;
    ::testing::internal::CaptureStdout();
    {
        MemBlock block(phy, page, false, 0);
        ASSERT_TRUE(block.mapped());
        EXPECT_GE(block.max_size, block.offset + block.byte_size);
        block.relative_addr()[page - 1] = 0x77;  // would fault if the mapping were one page short
    }
    (void)::testing::internal::GetCapturedStdout();
    vantor::UniqueFd file(::open(s_mem_path.c_str(), O_RDONLY | O_CLOEXEC));
    unsigned char byte = 0;
    ASSERT_EQ(::pread(file.get(), &byte, 1, static_cast<off_t>(phy + page - 1)), 1);
    EXPECT_EQ(byte, 0x77);
}

TEST_F(RegisterMap, AWindowBeyondTheEndOfTheFileIsRefusedNotMapped)
{
    ::testing::internal::CaptureStdout();
    {
        MemBlock block(vantor::test::kFullMemFileSize, 0x1000, true, 0xFF);
        EXPECT_FALSE(block.mapped());
        EXPECT_EQ(block.addr(), 0U);
        EXPECT_EQ(block.relative_addr(), nullptr);
    }
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Could not mmap"), std::string::npos) << out;
}

// Without the right to lock memory (a developer who is not root) MAP_LOCKED of a large window is
// refused; the window is mapped without the lock and a line says so. The child process drops the
// lock capability and sets a small lock limit to be in that position even when the test runs as
// root.
TEST_F(RegisterMap, WithoutTheRightToLockAWindowIsMappedUnlocked)
{
    const std::string out_path = s_root->path() + "/lock-test.out";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        vantor::UniqueFd out(::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
        if (!out || ::dup2(out.get(), STDOUT_FILENO) < 0) {
            ::_exit(10);
        }
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2] = {};
        if (::syscall(SYS_capget, &header, caps) != 0) {
            ::_exit(11);
        }
        caps[CAP_IPC_LOCK / 32].effective &= ~(1U << (CAP_IPC_LOCK % 32));
        if (::syscall(SYS_capset, &header, caps) != 0) {
            ::_exit(12);
        }
        const rlimit small{rlim_t{64} * 1024, rlim_t{64} * 1024};
        if (::setrlimit(RLIMIT_MEMLOCK, &small) != 0) {
            ::_exit(13);
        }
        const MemBlock block(Mem_Map_Str_Table[GP0_M_BASE_ADDR].PhyBaseAddr,
                             Mem_Map_Str_Table[GP0_M_BASE_ADDR].SizeByte, true, 0x3C);
        std::fflush(stdout);
        ::_exit(block.mapped() ? 0 : 14);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const std::string out = vantor::test::read_text(out_path);
    EXPECT_NE(out.find("MemBlock: cannot lock 0x1001000 bytes at 0x34000000 in memory"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("mapped unlocked"), std::string::npos) << out;

    // The unlocked mapping is the file all the same: init_val filled the window.
    vantor::UniqueFd file(::open(s_mem_path.c_str(), O_RDONLY | O_CLOEXEC));
    unsigned char byte = 0;
    ASSERT_EQ(::pread(file.get(), &byte, 1, 0x34000000 + 0xFFFFFF), 1);
    EXPECT_EQ(byte, 0x3C);
}

}  // namespace
