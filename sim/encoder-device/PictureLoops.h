#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

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

// Short loops of pre-encoded SpeedHQ pictures, encoded on first use of each size and chroma and
// kept for the life of the simulator. Returned loops stay valid (and unchanged) once made.
class PictureLoops {
public:
    explicit PictureLoops(int length) : m_length(length) {}
    int length() const { return m_length; }
    bool has_program(int mode, bool chroma420) const;
    bool has_preview() const;
    // Null, with `error` set, when the mode is unknown or encoding fails.
    const PictureLoop* program(int mode, bool chroma420, std::string& error);
    const PictureLoop* preview(std::string& error);

private:
    const PictureLoop* get(int width, int height, bool chroma420, bool fields, std::string& error);

    int m_length;
    std::map<std::tuple<int, int, bool>, PictureLoop> m_loops;
};
