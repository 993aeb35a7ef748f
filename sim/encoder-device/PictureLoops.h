#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "vantor/unique_fd.h"

using PictureBytes = std::vector<std::uint8_t>;
using PictureLoop = std::vector<PictureBytes>;

// Program picture size of an encoder mode (0 = 2160p, 1 = 720p, 2 = 1080p, 3 = 1080i fields).
struct ModeSize {
    int width;
    int height;
    bool fields;
};
bool mode_size(int mode, ModeSize& size);

inline constexpr int kPreviewWidth = 640;
inline constexpr int kPreviewHeight = 360;

// Short loops of pre-encoded SpeedHQ pictures, one per size and chroma, kept for the life of the
// simulator. Encoding (about a second for a 2160p loop, more under a sanitizer) runs on a worker
// thread so that the simulator keeps answering meanwhile; the owner's thread asks for loops with
// request(), learns through ready_fd() that a job is done and takes the result with collect().
// Everything except the worker's encoding runs on the owner's thread; made loops never change.
class PictureLoops {
public:
    explicit PictureLoops(int length);
    ~PictureLoops();
    PictureLoops(const PictureLoops&) = delete;
    PictureLoops& operator=(const PictureLoops&) = delete;

    int length() const { return m_length; }
    // The loops made so far; null when not (yet) made.
    const PictureLoop* find_program(int mode, bool chroma420) const;
    const PictureLoop* find_preview() const;

    // Starts making the program loop of a configuration and the preview loop unless they exist
    // or a job is under way. True when a job started.
    bool request(int mode, bool chroma420);
    // Readable once the running job has finished.
    int ready_fd() const { return m_ready_read.get(); }
    // Takes a finished job's loops into the cache. False, with `error` set, when encoding failed.
    bool collect(std::string& error);

private:
    using Key = std::tuple<int, int, bool>;  // width, height, 4:2:0
    struct Made {
        Key key;
        PictureLoop loop;
    };

    const PictureLoop* find(const Key& key) const;
    void encode(const std::vector<std::pair<Key, bool>>& sizes);

    int m_length;
    std::map<Key, PictureLoop> m_loops;
    vantor::UniqueFd m_ready_read;
    vantor::UniqueFd m_ready_write;
    std::thread m_worker;
    std::atomic<bool> m_cancel{false};
    std::mutex m_lock;  // guards the worker's results below
    std::vector<Made> m_made;
    std::string m_error;
};
