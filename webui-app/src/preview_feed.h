#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The live preview: receives the camera's own NDI source at its lowest bandwidth (the 640x360
// SpeedHQ preview stream) while a page asks for pictures, and turns the newest one into a JPEG
// when asked. Nobody watching for kIdleAfter: the receiver is closed and the thread sleeps, so an
// unwatched camera spends nothing on it. Each picture is decoded at most once.
class PreviewFeed {
public:
    // `source` names the NDI source to receive; empty: the camera's own, from its settings.
    explicit PreviewFeed(std::string source = "");
    ~PreviewFeed();
    PreviewFeed(const PreviewFeed&) = delete;
    PreviewFeed& operator=(const PreviewFeed&) = delete;

    void start();
    void stop();

    // The newest picture as JPEG and its age in milliseconds (from its arrival to now); waits up
    // to `wait` for a first picture. False when none arrived in the last second.
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
    // The newest received picture (SpeedHQ) and the newest JPEG made, by sequence number.
    std::vector<std::uint8_t> m_picture;
    int m_width = 0;
    int m_height = 0;
    bool m_chroma420 = false;
    clock::time_point m_received_at{};
    uint64_t m_sequence = 0;
    std::string m_jpeg;
    uint64_t m_jpeg_sequence = 0;
    std::mutex m_encode_mutex;  // one decode at a time; later callers reuse its JPEG

    std::atomic<bool> m_running{false};
    std::thread m_thread;
};
