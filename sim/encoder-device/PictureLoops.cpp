#include "PictureLoops.h"

#include <fcntl.h>
#include <unistd.h>

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

PictureLoops::PictureLoops(int length) : m_length(length)
{
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        m_ready_read.reset(fds[0]);
        m_ready_write.reset(fds[1]);
    }
}

PictureLoops::~PictureLoops()
{
    m_cancel = true;
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

const PictureLoop* PictureLoops::find(const Key& key) const
{
    const auto found = m_loops.find(key);
    return found == m_loops.end() ? nullptr : &found->second;
}

const PictureLoop* PictureLoops::find_program(int mode, bool chroma420) const
{
    ModeSize size{};
    return mode_size(mode, size) ? find(Key{size.width, size.height, chroma420}) : nullptr;
}

const PictureLoop* PictureLoops::find_preview() const
{
    return find(Key{kPreviewWidth, kPreviewHeight, true});
}

bool PictureLoops::request(int mode, bool chroma420)
{
    ModeSize size{};
    if (m_worker.joinable() || !mode_size(mode, size)) {
        return false;
    }
    std::vector<std::pair<Key, bool>> sizes;
    if (find_program(mode, chroma420) == nullptr) {
        sizes.emplace_back(Key{size.width, size.height, chroma420}, size.fields);
    }
    if (find_preview() == nullptr) {
        sizes.emplace_back(Key{kPreviewWidth, kPreviewHeight, true}, false);
    }
    if (sizes.empty()) {
        return false;
    }
    m_worker = std::thread([this, sizes = std::move(sizes)] { encode(sizes); });
    return true;
}

void PictureLoops::encode(const std::vector<std::pair<Key, bool>>& sizes)
{
    std::vector<Made> made;
    std::string error;
    for (const auto& [key, fields] : sizes) {
        Made loop{key, PictureLoop(static_cast<std::size_t>(m_length))};
        for (int i = 0; i < m_length && error.empty() && !m_cancel; ++i) {
            PictureLayout layout;
            layout.width = std::get<0>(key);
            layout.height = std::get<1>(key);
            layout.chroma420 = std::get<2>(key);
            layout.counter = i;
            layout.field = fields ? i % 2 : -1;
            encode_speedhq_picture(layout, loop.loop[static_cast<std::size_t>(i)], error);
        }
        if (!error.empty() || m_cancel) {
            break;
        }
        made.push_back(std::move(loop));
    }
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        m_made = std::move(made);
        m_error = error;
    }
    const char done = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_ready_write.get(), &done, 1);
}

bool PictureLoops::collect(std::string& error)
{
    char drained[16];
    while (::read(m_ready_read.get(), drained, sizeof(drained)) > 0) {
    }
    if (!m_worker.joinable()) {
        return true;
    }
    m_worker.join();
    const std::lock_guard<std::mutex> lock(m_lock);
    for (Made& made : m_made) {
        m_loops.emplace(made.key, std::move(made.loop));
    }
    m_made.clear();
    error = m_error;
    return error.empty();
}
