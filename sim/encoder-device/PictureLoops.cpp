#include "PictureLoops.h"

#include "SpeedHqEncoder.h"

bool mode_size(int mode, ModeSize& size)
{
    switch (mode) {
    case 0:
        size = {3840, 2160, false};
        return true;
    case 1:
        size = {1280, 720, false};
        return true;
    case 2:
        size = {1920, 1080, false};
        return true;
    case 3:
        size = {1920, 540, true};
        return true;
    default:
        return false;
    }
}

bool PictureLoops::has_program(int mode, bool chroma420) const
{
    ModeSize size{};
    return mode_size(mode, size) &&
           m_loops.count(std::make_tuple(size.width, size.height, chroma420)) != 0;
}

bool PictureLoops::has_preview() const
{
    return m_loops.count(std::make_tuple(kPreviewWidth, kPreviewHeight, true)) != 0;
}

const PictureLoop* PictureLoops::program(int mode, bool chroma420, std::string& error)
{
    ModeSize size{};
    if (!mode_size(mode, size)) {
        error = "unknown encoder mode " + std::to_string(mode);
        return nullptr;
    }
    return get(size.width, size.height, chroma420, size.fields, error);
}

const PictureLoop* PictureLoops::preview(std::string& error)
{
    return get(kPreviewWidth, kPreviewHeight, true, false, error);
}

const PictureLoop* PictureLoops::get(int width, int height, bool chroma420, bool fields,
                                     std::string& error)
{
    const auto key = std::make_tuple(width, height, chroma420);
    const auto found = m_loops.find(key);
    if (found != m_loops.end()) {
        return &found->second;
    }
    PictureLoop loop(static_cast<std::size_t>(m_length));
    for (int i = 0; i < m_length; ++i) {
        PictureSpec spec;
        spec.width = width;
        spec.height = height;
        spec.chroma420 = chroma420;
        spec.counter = i;
        spec.field = fields ? i % 2 : -1;
        if (!encode_speedhq_picture(spec, loop[static_cast<std::size_t>(i)], error)) {
            return nullptr;
        }
    }
    return &m_loops.emplace(key, std::move(loop)).first->second;
}
