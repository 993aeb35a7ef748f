// The frame pipeline: the frame thread takes each completed frame's program and preview pictures
// from the encoder device and queues them; two send threads hand them to the main NDI sender.

#include <algorithm>
#include <cstdio>
#include <new>

#include "NdiTransmitter/NdiTransmitter.h"

namespace {

// Pause after and before the encoder's start when a frame reports an impossible buffer index.
constexpr std::chrono::milliseconds kRestartStep{100};

constexpr int kLowestBufferIndex = 1;
constexpr int kHighestBufferIndex = 5;

// SpeedHQ picture header: byte 0 the quality (at most 99), bytes 1 to 3 the 24-bit little-endian
// offset of the second field, which is 4 for a single-field picture.
constexpr int kHeaderSize = 4;
constexpr unsigned kMaxQuality = 99;
constexpr unsigned kSingleFieldOffset = 4;

constexpr float kAspect16by9 = 16.0F / 9.0F;

// A compressed picture is never larger than twice its uncompressed 4:2:2 size (2 bytes a pixel),
// nor than a device read may return.
constexpr std::uint64_t kMaxBytesPerPixel = 4;

std::uint64_t largest_plausible_picture(const NdiTransmitter::frame_t& frame)
{
    const std::uint64_t limit = speedhq_protocol::kMaxReadCount;
    if (frame.xres <= 0 || frame.yres <= 0) {
        return limit;
    }
    return std::min(limit, static_cast<std::uint64_t>(frame.xres) *
                               static_cast<std::uint64_t>(frame.yres) * kMaxBytesPerPixel);
}

bool header_is_valid(const unsigned char* data)
{
    return data[0] <= kMaxQuality && data[1] == kSingleFieldOffset && data[2] == 0 && data[3] == 0;
}

void print_line(const char* text)
{
    std::puts(text);
    std::fflush(stdout);
}

// A picture described by `info`, its bytes not yet read; empty when it cannot be allocated.
std::shared_ptr<NdiTransmitter::frame_t> new_picture(const NDIlib_video_frame_v2_t& info)
{
    std::shared_ptr<NdiTransmitter::frame_t> frame;
    try {
        frame = std::make_shared<NdiTransmitter::frame_t>();
    } catch (const std::bad_alloc&) {
        return nullptr;  // out of memory: this picture is dropped, the stream goes on
    }
    frame->xres = info.xres;
    frame->yres = info.yres;
    frame->frame_rate_N = info.frame_rate_N;
    frame->frame_rate_D = info.frame_rate_D;
    frame->FourCC = info.FourCC;
    frame->picture_aspect_ratio = info.picture_aspect_ratio;
    return frame;
}

// Queues `frame` and drops the oldest waiting pictures beyond `max_size`.
void push_trimmed(std::queue<std::shared_ptr<NdiTransmitter::frame_t>>& queue, std::mutex& lock,
                  std::condition_variable& condvar, std::shared_ptr<NdiTransmitter::frame_t> frame,
                  std::size_t max_size)
{
    {
        const std::lock_guard<std::mutex> guard(lock);
        queue.push(std::move(frame));
        while (queue.size() > max_size) {
            queue.pop();
        }
    }
    condvar.notify_one();
}

// Takes the oldest waiting picture, waiting for one.
std::shared_ptr<NdiTransmitter::frame_t>
pop_waiting(std::queue<std::shared_ptr<NdiTransmitter::frame_t>>& queue, std::mutex& lock,
            std::condition_variable& condvar)
{
    std::unique_lock<std::mutex> guard(lock);
    condvar.wait(guard, [&queue] { return !queue.empty(); });
    std::shared_ptr<NdiTransmitter::frame_t> frame = std::move(queue.front());
    queue.pop();
    return frame;
}

}  // namespace

bool NdiTransmitter::read_picture(std::int32_t selector, frame_t& frame)
{
    std::int32_t rd_sel = selector;
    if (m_vantorspeedhqDevice.request(VANTOR_SPEEDHQ_IOCTL_RD_SEL, rd_sel) < 0) {
        return false;
    }
    std::int32_t size = 0;
    if (m_vantorspeedhqDevice.request(VANTOR_SPEEDHQ_IOCTL_READ_LENGTH, size) < 0) {
        return false;
    }
    // A picture too small to hold its header cannot be checked, and an absurd length must not
    // become an allocation: both are dropped before any byte is read.
    if (size < kHeaderSize || static_cast<std::uint64_t>(size) > largest_plausible_picture(frame)) {
        return false;
    }
    frame.frame_data.reset(new (std::nothrow) unsigned char[static_cast<std::size_t>(size)]);
    if (!frame.frame_data) {
        return false;
    }
    frame.frame_data_size = size;
    const ssize_t got =
        m_vantorspeedhqDevice.read(frame.frame_data.get(), static_cast<std::size_t>(size));
    return got == static_cast<ssize_t>(size);
}

bool NdiTransmitter::copy_full()
{
    const std::shared_ptr<frame_t> frame = new_picture(prog_info_frame);
    if (!frame || !read_picture(VANTOR_SPEEDHQ_RD_SEL_PROGRAM, *frame)) {
        return false;
    }
    if (interlaced_field) {
        std::int32_t field = 0;
        if (m_vantorspeedhqDevice.request(VANTOR_SPEEDHQ_IOCTL_GET_FIELD, field) < 0) {
            return false;
        }
        frame->frame_format_type = (static_cast<std::uint32_t>(field) & 1U) != 0
                                       ? NDIlib_frame_format_type_field_1
                                       : NDIlib_frame_format_type_field_0;
    } else {
        frame->frame_format_type = NDIlib_frame_format_type_progressive;
    }
    if (!header_is_valid(frame->frame_data.get())) {
        return false;
    }
    if (init_frame_drop < init_frame_drop_count) {
        ++init_frame_drop;
        return true;
    }
    push_trimmed(m_ndi_full_send_queue, m_ndi_full_send_queue_lock, m_ndi_full_send_queue_condvar,
                 frame, max_queue_size);
    return true;
}

bool NdiTransmitter::copy_prvw()
{
    const std::shared_ptr<frame_t> frame = new_picture(prev_info_frame);
    if (!frame || !read_picture(VANTOR_SPEEDHQ_RD_SEL_PREVIEW, *frame)) {
        return false;
    }
    frame->frame_format_type = NDIlib_frame_format_type_progressive;
    if (!header_is_valid(frame->frame_data.get())) {
        return false;
    }
    if (init_frame_drop < init_frame_drop_count) {
        return false;
    }
    push_trimmed(m_ndi_prvw_send_queue, m_ndi_prvw_send_queue_lock, m_ndi_prvw_send_queue_condvar,
                 frame, max_queue_size);
    return true;
}

void NdiTransmitter::wait_ndi_frame()
{
    print_line("START send_video_frame");
    m_vantorspeedhqDevice.request(VANTOR_SPEEDHQ_IOCTL_START);
    init_frame_drop = 0;
    SpeedHqDevice::StatusRecord status{};
    bool prev_skip = true;

    while (encodeRunning.load()) {
        std::int32_t rd_sel = VANTOR_SPEEDHQ_RD_SEL_WAIT_FRAME;
        if (m_vantorspeedhqDevice.request(VANTOR_SPEEDHQ_IOCTL_RD_SEL, rd_sel) < 0) {
            std::fputs("err ", stdout);
            std::fflush(stdout);
            // A missing or failing device fails at once: pause so that it does not spin a core.
            pause_while_running(frame_wait_retry_pause);
            continue;
        }
        const int index = m_vantorspeedhqDevice.read_status(status);
        if (index < kLowestBufferIndex || index > kHighestBufferIndex) {
            std::printf("Buffer %d \n", index);
            print_line("!!!!!!!!!!!!!!!!!!!!!!!!!!!!NOVALID FRAME");
            if (index > kHighestBufferIndex) {
                m_vantorspeedhqDevice.request(VANTOR_SPEEDHQ_IOCTL_STOP);
                std::this_thread::sleep_for(kRestartStep);
                m_vantorspeedhqDevice.request(VANTOR_SPEEDHQ_IOCTL_START);
                std::this_thread::sleep_for(kRestartStep);
            }
            continue;
        }
        FrameSentCount.fetch_add(1);
        if (index == status[VANTOR_SPEEDHQ_STATUS_PREVIOUS_INDEX_WORD]) {
            std::printf("Buffer %d \n", index);
            print_line("!!!!!!!!!!!!!!!!!!!!!!!!!!!!SAME FRAME");
            continue;
        }
        if (copy_full()) {
            if (prev_skip && skip_prev_frame_en) {
                prev_skip = false;
            } else {
                prev_skip = true;
                copy_prvw();
            }
        }
    }

    // End marks: each send thread sends what waits before it and then ends.
    std::unique_lock<std::mutex> full_lock(m_ndi_full_send_queue_lock);
    m_ndi_full_send_queue.push(nullptr);
    m_ndi_full_send_queue_condvar.notify_one();
    const std::lock_guard<std::mutex> prvw_lock(m_ndi_prvw_send_queue_lock);
    full_lock.unlock();
    m_ndi_prvw_send_queue.push(nullptr);
    m_ndi_prvw_send_queue_condvar.notify_one();
    print_line("END send_video_frame");
    {
        const std::lock_guard<std::mutex> left(m_pause_lock);
        m_frame_loop_left = true;
    }
    m_pause_condvar.notify_all();
}

void NdiTransmitter::send_full()
{
    while (true) {
        std::shared_ptr<frame_t> frame = pop_waiting(
            m_ndi_full_send_queue, m_ndi_full_send_queue_lock, m_ndi_full_send_queue_condvar);
        if (!frame) {
            print_line("send_full thread done!");
            return;
        }
        add_frame(frame, false);
    }
}

void NdiTransmitter::send_prvw()
{
    while (true) {
        std::shared_ptr<frame_t> frame = pop_waiting(
            m_ndi_prvw_send_queue, m_ndi_prvw_send_queue_lock, m_ndi_prvw_send_queue_condvar);
        if (!frame) {
            print_line("send_prvw thread done!");
            return;
        }
        add_frame(frame, true);
    }
}

void NdiTransmitter::add_frame(std::shared_ptr<frame_t>& frame, bool preview)
{
    std::shared_ptr<frame_t>& slot = m_prev_video_frame[preview ? 0 : 1];
    // The runtime keeps using the bytes of the previous picture until this send returns: hold it.
    const std::shared_ptr<frame_t> previous = slot;
    if (ndi_tx_inst == nullptr) {
        print_line("sender DEAD");
        return;
    }
    NDIlib_video_frame_v2_t video_frame;
    if (frame) {
        video_frame.xres = frame->xres;
        video_frame.yres = frame->yres;
        video_frame.FourCC = frame->FourCC;
        video_frame.frame_rate_N = frame->frame_rate_N;
        video_frame.frame_rate_D = frame->frame_rate_D;
        video_frame.frame_format_type = frame->frame_format_type;
        if (frame->frame_data) {
            video_frame.p_data = frame->frame_data.get();
            video_frame.data_size_in_bytes = frame->frame_data_size;
        }
    }
    video_frame.picture_aspect_ratio = kAspect16by9;
    video_frame.timecode = NDIlib_send_timecode_synthesize;
    video_frame.p_metadata = nullptr;
    video_frame.timestamp = 0;
    NDIlib_send_send_video_async_v2(ndi_tx_inst, &video_frame);
    slot = frame;
}
