#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

// Drives the camera from the PTZ page through the camera's own VISCA-over-IP service on loopback,
// as any VISCA-over-IP controller would. A press starts a move; the page repeats it while the
// button is held; a release stops it; a page that goes quiet (closed, lost network) is stopped
// after kHoldTimeout. Speeds are the PTZ settings file's limits.

inline constexpr uint16_t kViscaOverIpPort = 52381;

struct ptz_move {
    int pan = 0;    // -1 left, 0 none, 1 right
    int tilt = 0;   // -1 down, 0 none, 1 up
    int zoom = 0;   // -1 wide, 0 none, 1 tele
    int focus = 0;  // -1 near, 0 none, 1 far
};

class PtzDriver {
public:
    static constexpr std::chrono::milliseconds kHoldTimeout{1000};

    PtzDriver();
    ~PtzDriver();
    PtzDriver(const PtzDriver&) = delete;
    PtzDriver& operator=(const PtzDriver&) = delete;

    // Starts or refreshes a move; a move with every axis 0 stops. False when nothing was sent.
    bool drive(const ptz_move& move);
    // Stores or recalls preset 1..9 through the preset request files the synchronisation loop
    // reads. False when `preset` is out of range or the file cannot be written.
    static bool preset_request(bool store, int preset);

    // The VISCA message for a move (public for tests): pan/tilt drive, zoom or focus.
    static std::string pan_tilt_message(const ptz_move& move, int pan_speed, int tilt_speed);

private:
    bool send(const std::string& message);
    void watchdog();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    int m_socket = -1;
    uint32_t m_sequence = 0;
    ptz_move m_current;
    std::chrono::steady_clock::time_point m_last_press;
    bool m_stopping = false;
    std::thread m_thread;
};
