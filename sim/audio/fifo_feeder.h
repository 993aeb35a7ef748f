#pragma once

#include <cstdint>
#include <string>

#include "vantor/unique_fd.h"

// The writing end of the FIFO that ALSA's file plugin reads as the capture device's input.
//
// The FIFO is opened for writing only while a reader has it open (non-blocking, so the feeder never
// waits for a reader), and is kept open as long as one does: a reader of a FIFO whose last writer
// closed reads end of file at once, which ALSA's file plugin turns into blocks delivered as fast as
// it is asked. Blocks that find no reader, or a reader that has not taken the earlier ones (the
// FIFO is full), are dropped, as a sound card's input is lost when nobody captures it. Every block
// goes in one write, which the kernel keeps whole (a block is smaller than PIPE_BUF), so a reader
// always sees whole blocks.
class FifoFeeder {
public:
    // Creates the FIFO at `path` unless one is there; false (with `error`) when that fails or the
    // path is something else.
    bool prepare(const std::string& path, std::string& error);
    ~FifoFeeder();
    FifoFeeder() = default;
    FifoFeeder(const FifoFeeder&) = delete;
    FifoFeeder& operator=(const FifoFeeder&) = delete;

    // Hands one block to the reader; false when it was dropped.
    bool write_block(const std::uint8_t* block, std::size_t size);
    bool has_reader() const { return m_fd.valid(); }

private:
    std::string m_path;
    bool m_created = false;
    vantor::UniqueFd m_fd;
};
