#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Processing.NDI.Lib.h"

// The live preview: receives the camera's own NDI source at its lowest bandwidth (the 640x360
// SpeedHQ preview stream) while a page asks for pictures, and turns the next picture that arrives
// after a request into a JPEG (on its own thread, so the decoder's memory stays in one place).
// Nobody watching for kIdleAfter: the receiver is closed and the thread sleeps, so an unwatched
// camera spends nothing on it. A picture is decoded only when a page asked for one.
class PreviewFeed {
public:
    // `source` names the NDI source to receive; empty: the camera's own, from its settings.
    explicit PreviewFeed(std::string source = "");
    ~PreviewFeed();
    PreviewFeed(const PreviewFeed&) = delete;
    PreviewFeed& operator=(const PreviewFeed&) = delete;

    void start();
    void stop();

    // The newest picture as JPEG and its age in milliseconds (from its arrival to now): the JPEG
    // of the newest picture if made already, else that of the next one; waits up to `wait` for
    // it. False when none came.
    bool newest_jpeg(std::string& jpeg, long& age_ms, std::chrono::milliseconds wait);

    static constexpr std::chrono::seconds kIdleAfter{3};

private:
    using clock = std::chrono::steady_clock;
    void run();
    std::string source_name() const;

    std::string m_source;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    clock::time_point m_watched_until{};
    void take(const NDIlib_video_frame_v2_t& frame, bool chroma420);

    // Pictures received (their count) and the newest JPEG made, with its picture's number and
    // arrival; `m_jpeg_wanted`: a page waits for the next one.
    uint64_t m_sequence = 0;
    std::string m_jpeg;
    uint64_t m_jpeg_sequence = 0;
    clock::time_point m_jpeg_received_at{};
    bool m_jpeg_wanted = false;
    bool m_failure_told = false;

    std::atomic<bool> m_running{false};
    std::thread m_thread;
};
