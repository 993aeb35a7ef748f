#include "platform/fifo/fifo.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint8_t> bytes(uint8_t first, unsigned n)
{
    std::vector<uint8_t> v(n);
    for (unsigned i = 0; i < n; ++i) {
        v[i] = static_cast<uint8_t>(first + i);
    }
    return v;
}

TEST(RingBuffer, HoldsOneByteLessThanItsSizeSoFullIsNeverEmpty)
{
    CFifo fifo(8);
    EXPECT_EQ(fifo.GetSize(), 8U);
    EXPECT_EQ(fifo.GetRemainSpace(), 7U);
    const std::vector<uint8_t> data = bytes(1, 8);
    EXPECT_EQ(fifo.WriteData(data.data(), 8), 0U);  // would make full look empty
    EXPECT_EQ(fifo.GetUsedSpace(), 0U);
    EXPECT_EQ(fifo.WriteData(data.data(), 7), 7U);
    EXPECT_EQ(fifo.GetUsedSpace(), 7U);
    EXPECT_EQ(fifo.GetRemainSpace(), 0U);
    EXPECT_EQ(fifo.WriteData(data.data(), 1), 0U);

    std::vector<uint8_t> out(7);
    EXPECT_EQ(fifo.ReadData(out.data(), 7), 7U);
    EXPECT_EQ(out, bytes(1, 7));
    EXPECT_EQ(fifo.GetUsedSpace(), 0U);
    EXPECT_EQ(fifo.ReadData(out.data(), 1), 0U);
}

TEST(RingBuffer, DataWrapsAroundTheEndInOrder)
{
    CFifo fifo(8);
    std::vector<uint8_t> out(8);
    uint8_t next = 0;
    uint8_t expected = 0;
    // Different chunk sizes move the indices across the end many times.
    for (unsigned round = 0; round < 40; ++round) {
        const unsigned n = 1 + round % 7;
        const std::vector<uint8_t> chunk = bytes(next, n);
        ASSERT_EQ(fifo.WriteData(chunk.data(), n), n) << round;
        next = static_cast<uint8_t>(next + n);
        ASSERT_EQ(fifo.ReadData(out.data(), n), n);
        for (unsigned i = 0; i < n; ++i) {
            ASSERT_EQ(out[i], static_cast<uint8_t>(expected + i)) << round;
        }
        expected = static_cast<uint8_t>(expected + n);
        ASSERT_EQ(fifo.GetUsedSpace(), 0U);
    }
}

TEST(RingBuffer, CheckPeeksAndDeleteDiscardsAcrossTheEnd)
{
    CFifo fifo(8);
    std::vector<uint8_t> out(8);
    const std::vector<uint8_t> pad = bytes(0, 6);
    ASSERT_EQ(fifo.WriteData(pad.data(), 6), 6U);
    ASSERT_EQ(fifo.ReadData(out.data(), 6), 6U);  // indices now near the end
    const std::vector<uint8_t> data = bytes(10, 6);
    ASSERT_EQ(fifo.WriteData(data.data(), 6), 6U);

    EXPECT_EQ(fifo.check_data(out.data(), 1, 4), 4U);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 4), bytes(11, 4));
    EXPECT_EQ(fifo.GetUsedSpace(), 6U);                // nothing taken
    EXPECT_EQ(fifo.check_data(out.data(), 3, 4), 0U);  // beyond what is stored

    EXPECT_EQ(fifo.delet_data(7), 0U);
    EXPECT_EQ(fifo.delet_data(3), 3U);
    EXPECT_EQ(fifo.ReadData(out.data(), 3), 3U);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 3), bytes(13, 3));

    ASSERT_EQ(fifo.WriteData(data.data(), 5), 5U);
    fifo.ClearSpace();
    EXPECT_EQ(fifo.GetUsedSpace(), 0U);
    EXPECT_EQ(fifo.GetRemainSpace(), 7U);
    EXPECT_FALSE(fifo.locked);
}

TEST(RingBuffer, DegenerateSizesAndArgumentsDoNothing)
{
    CFifo empty(0);
    uint8_t byte = 1;
    EXPECT_EQ(empty.WriteData(&byte, 1), 0U);
    EXPECT_EQ(empty.ReadData(&byte, 1), 0U);
    EXPECT_EQ(empty.GetRemainSpace(), 0U);

    CFifo fifo(4);
    EXPECT_EQ(fifo.WriteData(nullptr, 1), 0U);
    EXPECT_EQ(fifo.WriteData(&byte, 0), 0U);
    EXPECT_EQ(fifo.check_data(&byte, 0, 1), 0U);
    EXPECT_EQ(fifo.GetUsedSpace(), 0U);
}

}  // namespace
