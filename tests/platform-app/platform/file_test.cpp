#include "platform/file/file.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_board_root.h"

namespace {

using vantor::test::read_text;
using vantor::test::TempDir;
using vantor::test::write_text;

TEST(FileHelpers, ReadFromAnOffset)
{
    TempDir dir;
    const std::string path = dir / "image.bin";
    write_text(path, "0123456789");
    uint8_t buffer[16] = {};
    uint32_t actual = 99;
    EXPECT_EQ(FileRead(path.c_str(), 4, buffer, 16, &actual), 0);
    EXPECT_EQ(actual, 6U);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), actual), "456789");
    EXPECT_EQ(FileGetSizeByte(path.c_str()), 10);
}

TEST(FileHelpers, WriteAppendsWhateverTheOffset)
{
    TempDir dir;
    const std::string path = dir / "log.bin";
    const uint8_t a[] = {'a', 'b'};
    const uint8_t b[] = {'c'};
    uint32_t actual = 0;
    EXPECT_EQ(FileWrite(path.c_str(), 0, a, 2, &actual), 0);
    EXPECT_EQ(actual, 2U);
    EXPECT_EQ(FileWrite(path.c_str(), 0, b, 1, &actual), 0);
    EXPECT_EQ(actual, 1U);
    EXPECT_EQ(read_text(path), "abc");
}

TEST(FileHelpers, AFileThatCannotBeOpenedIsReportedNotUsed)
{
    TempDir dir;
    const std::string missing = dir / "missing";
    const std::string unwritable = dir / "no-such-folder/file";
    uint8_t buffer[4] = {};
    uint32_t actual = 99;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(FileRead(missing.c_str(), 0, buffer, 4, &actual), 1);
    EXPECT_EQ(actual, 0U);
    actual = 99;
    EXPECT_EQ(FileWrite(unwritable.c_str(), 0, buffer, 4, &actual), 1);
    EXPECT_EQ(actual, 0U);
    EXPECT_EQ(FileGetSizeByte(missing.c_str()), -1);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("ERR: fopen " + missing), std::string::npos) << out;
    EXPECT_NE(out.find("ERR: fopen " + unwritable), std::string::npos) << out;
}

}  // namespace
