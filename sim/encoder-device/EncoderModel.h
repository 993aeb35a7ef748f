#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "NdiTransmitter/SpeedHqProtocol.h"
#include "PictureLoops.h"

// The encoder device as the simulator models it: its registers (mode, chroma, input, bit rates),
// the frame clock, the frame buffers with their rotating indices 1 to 5, the read selection and the
// injected faults. It knows nothing of sockets; the server feeds it requests and time.
class EncoderModel {
public:
    using Clock = std::chrono::steady_clock;

    struct Options {
        int loop_length = 6;
        double rate = -1.0;  // pictures per second for every mode; < 0: each mode's default
        std::chrono::milliseconds wait_timeout{1000};
        std::FILE* log = nullptr;  // receives one line per request, flushed at once
        // The encoder settings file whose "VideoFormat" sets the picture rate at each start
        // (empty: each mode's default rate).
        std::string settings_path;
    };

    struct Reply {
        std::int32_t result = 0;
        std::int32_t error = 0;
        bool has_argument = false;
        std::int32_t argument = 0;
        const std::uint8_t* payload = nullptr;
        std::uint32_t payload_size = 0;
    };

    explicit EncoderModel(const Options& options);

    // A control request or read. Frame waits (request 10 with 1) go to the wait operations below.
    Reply handle(const speedhq_protocol::Request& request, Clock::time_point now);
    static bool is_frame_wait(const speedhq_protocol::Request& request);
    // Records a frame wait in the request log.
    void log_frame_wait();

    // Frame waits. A wait received at `since` is answered by the first frame that completes after
    // it, or fails with ETIMEDOUT at `since` + the wait time-out. Frames complete only while the
    // encoder is started, not stalled and the started configuration's pictures exist.
    bool needs_pictures() const;
    // Starts encoding the started configuration's pictures in the background; true when it did.
    bool request_pictures();
    // Readable when background encoding has finished: then call collect_pictures().
    int pictures_ready_fd() const { return m_loops.ready_fd(); }
    // Takes the encoded pictures; the frame clock starts once the started configuration has them.
    bool collect_pictures(Clock::time_point now, std::string& error);
    // When the wait received at `since` ends: the frame time, or its time-out.
    Clock::time_point wait_due(Clock::time_point since) const;
    Reply finish_wait(Clock::time_point since, Clock::time_point now);

    // One fault-injection or inspection command ("help" lists them). Returns the reply line
    // ("ok ...", "error ..."); sets `quit` for "quit".
    std::string command(const std::string& line, Clock::time_point now, bool& quit);
    static const char* command_help();

    // Pictures per second in the started format, or its mode's default when the settings name no
    // format of that mode, unless a rate is set for every mode (0: as fast as waits arrive).
    double rate() const;

private:
    bool frames_flow() const;
    // The first frame completing after `since`: its time and number.
    void next_frame(Clock::time_point since, Clock::time_point& time, std::uint64_t& number) const;
    void restart_clock(Clock::time_point now);
    void complete_frame(std::uint64_t number);
    void record(const std::string& entry);

    Options m_options;
    PictureLoops m_loops;

    // Registers.
    bool m_started = false;
    int m_mode = 2;
    bool m_chroma420 = false;
    int m_active_mode = 2;
    bool m_active_chroma420 = false;
    std::array<std::int32_t, 22> m_registers{};

    // Frame clock: frame m_epoch_frame + k completes at m_epoch + k periods.
    Clock::time_point m_epoch{};
    std::uint64_t m_epoch_frame = 0;
    std::uint64_t m_frame = 0;  // last completed frame, 0 before the first
    bool m_stalled = false;
    double m_rate_override;
    double m_format_rate = 0.0;  // the started format's rate; 0: the mode's default

    // The frame last completed and what the next read returns.
    enum class Selection { None, Status, Program, Preview };
    Selection m_selection = Selection::None;
    std::int32_t m_index = 0;
    std::int32_t m_field = 0;
    std::array<std::uint8_t, 24> m_status{};
    const PictureBytes* m_program = nullptr;
    const PictureBytes* m_preview = nullptr;
    PictureBytes m_corrupt_program;
    PictureBytes m_corrupt_preview;

    // Faults waiting for the next completed frames.
    int m_repeat = 0;
    int m_bad_index_count = 0;
    std::int32_t m_bad_index = 0;
    int m_corrupt_program_count = 0;
    int m_corrupt_preview_count = 0;

    std::vector<std::string> m_requests;
};
