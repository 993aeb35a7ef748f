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

    // The card as its driver sees it (the board's ALSA plugin reads these markers next to the
    // FIFO): "unplug" closes the FIFO and keeps it closed, with "<fifo>.unplugged" present, until
    // "replug"; "overrun" has the plugin report an overrun at its next period. The reply line of
    // one of these commands, or empty for any other line.
    std::string card_command(const std::string& line);
    static const char* card_help();

private:
    std::string m_path;
    bool m_created = false;
    bool m_unplugged = false;
    vantor::UniqueFd m_fd;
};
