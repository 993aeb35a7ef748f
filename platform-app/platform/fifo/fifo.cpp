#include "platform/fifo/fifo.h"

#include <cstring>

namespace {

// Sets `locked` for the life of one operation.
class Busy {
public:
    explicit Busy(std::atomic<bool>& flag) : m_flag(flag) { m_flag = true; }
    ~Busy() { m_flag = false; }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    std::atomic<bool>& m_flag;
};

}  // namespace

CFifo::CFifo(unsigned size) : space_size(size), p(new uint8_t[size > 0 ? size : 1]()) {}

unsigned CFifo::GetUsedSpace() const
{
    return wr_index >= rd_index ? wr_index - rd_index : space_size - rd_index + wr_index;
}

unsigned CFifo::GetRemainSpace() const
{
    return space_size == 0 ? 0 : space_size - 1 - GetUsedSpace();
}

void CFifo::copy_out(unsigned from, uint8_t* data, unsigned n) const
{
    const unsigned first = n < space_size - from ? n : space_size - from;
    std::memcpy(data, p.get() + from, first);
    std::memcpy(data + first, p.get(), n - first);
}

unsigned CFifo::WriteData(const uint8_t* data, unsigned n)
{
    const Busy busy(locked);
    if (n == 0 || data == nullptr || n > GetRemainSpace()) {
        return 0;
    }
    const unsigned first = n < space_size - wr_index ? n : space_size - wr_index;
    std::memcpy(p.get() + wr_index, data, first);
    std::memcpy(p.get(), data + first, n - first);
    wr_index = (wr_index + n) % space_size;
    return n;
}

unsigned CFifo::ReadData(uint8_t* data, unsigned n)
{
    const Busy busy(locked);
    if (n == 0 || data == nullptr || n > GetUsedSpace()) {
        return 0;
    }
    copy_out(rd_index, data, n);
    rd_index = (rd_index + n) % space_size;
    return n;
}

unsigned CFifo::check_data(uint8_t* data, unsigned offset, unsigned n)
{
    const Busy busy(locked);
    const unsigned used = GetUsedSpace();
    if (n == 0 || data == nullptr || offset > used || n > used - offset) {
        return 0;
    }
    copy_out((rd_index + offset) % space_size, data, n);
    return n;
}

unsigned CFifo::delet_data(unsigned n)
{
    const Busy busy(locked);
    if (n == 0 || n > GetUsedSpace()) {
        return 0;
    }
    rd_index = (rd_index + n) % space_size;
    return n;
}

void CFifo::ClearSpace()
{
    const Busy busy(locked);
    wr_index = 0;
    rd_index = 0;
}
