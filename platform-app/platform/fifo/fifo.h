#pragma once

// A fixed-size byte ring buffer (part of the platform library; the running daemon does not use it).
//
// Full/empty rule: equal read and write indices mean empty, and one byte of the buffer is always
// kept free, so a full buffer (write index just behind the read index) can never be mistaken for an
// empty one. A CFifo of `size` bytes therefore holds at most size - 1 bytes.
//
// Not a lock-free queue: `locked` only shows that an operation is in progress; callers on several
// threads must serialise their calls themselves.

#include <atomic>
#include <cstdint>
#include <memory>

class CFifo {
public:
    explicit CFifo(unsigned size);
    virtual ~CFifo() = default;
    CFifo(const CFifo&) = delete;
    CFifo& operator=(const CFifo&) = delete;

    // Appends `n` bytes if there is room for all of them; returns n, or 0 (nothing written).
    unsigned WriteData(const uint8_t* data, unsigned n);
    // Takes `n` bytes if that many are stored; returns n, or 0 (nothing taken).
    unsigned ReadData(uint8_t* data, unsigned n);
    // Copies `n` bytes starting `offset` bytes after the oldest one, without taking them; returns
    // n, or 0 when fewer than offset + n bytes are stored.
    unsigned check_data(uint8_t* data, unsigned offset, unsigned n);
    // Discards the `n` oldest bytes if that many are stored; returns n, or 0 (nothing discarded).
    unsigned delet_data(unsigned n);

    // Size of the buffer given at construction.
    unsigned GetSize() const { return space_size; }
    // Bytes that can still be written (GetSize() - 1 - GetUsedSpace()).
    unsigned GetRemainSpace() const;
    // Bytes stored.
    unsigned GetUsedSpace() const;
    // Empties the buffer.
    void ClearSpace();

    std::atomic<bool> locked{false};
    unsigned wr_index = 0;
    unsigned rd_index = 0;
    unsigned space_size;
    std::unique_ptr<uint8_t[]> p;

private:
    // Copies n bytes out starting at buffer index `from`, wrapping at the end.
    void copy_out(unsigned from, uint8_t* data, unsigned n) const;
};
