// The frame thread and the send threads against a scripted encoder device: start-up discard,
// preview selection, bad buffer indices, bad pictures, field parity, queue depth and the end of
// the send threads. Runs on the target too.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "pipeline_fixture.h"
#include "vantor_ndi_test_hook.h"

namespace {

// Allocation failures on demand, per thread: the next `t_failures_left` allocations of exactly
// `t_fail_size` bytes made by this thread fail.
thread_local std::size_t t_fail_size = 0;
thread_local int t_failures_left = 0;
thread_local std::size_t t_last_size = 0;  // the size of this thread's last allocation

}  // namespace

// This test program's global allocation functions, so that a test can make one allocation fail.
void* operator new(std::size_t size)
{
    t_last_size = size;
    if (t_failures_left > 0 && size == t_fail_size) {
        --t_failures_left;
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {  // NOLINT(*-no-malloc)
        return memory;
    }
    throw std::bad_alloc();
}

// Not inlined: once inlined next to a new-expression, the optimiser takes the free() for a
// mismatched deallocation.
[[gnu::noinline]] void operator delete(void* memory) noexcept
{
    std::free(memory);  // NOLINT(*-no-malloc)
}

[[gnu::noinline]] void operator delete(void* memory, std::size_t /*size*/) noexcept
{
    std::free(memory);  // NOLINT(*-no-malloc)
}

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using vantor::test::count_of;
using vantor::test::PipelineFixture;
using vantor::test::ScriptedFrame;
using vantor::test::speedhq_picture;

class FramePipeline : public PipelineFixture {
protected:
    FramePipeline()
    {
        open_fake();
        m_tx.max_queue_size = 1000;  // the queue-depth test sets its own
    }

    ScriptedFrame frame(std::int32_t index, std::int32_t previous, std::size_t program_size = 1500,
                        std::size_t preview_size = 150)
    {
        ScriptedFrame scripted;
        scripted.index = index;
        scripted.previous = previous;
        scripted.program = speedhq_picture(program_size);
        scripted.preview = speedhq_picture(preview_size);
        return scripted;
    }
};

TEST_F(FramePipeline, DiscardsTheFirstSixtyProgramPicturesAfterEachStart)
{
    m_tx.setup_video_frame(52);
    for (int start = 0; start < 2; ++start) {
        SCOPED_TRACE("start " + std::to_string(start + 1));
        script_frames(63);
        const vantor::test::Queued queued = run_frame_thread();
        // Program pictures from the 61st frame, previews from the 60th.
        EXPECT_EQ(sizes(queued.program), (std::vector<int>{1061, 1062, 1063}));
        EXPECT_EQ(sizes(queued.preview), (std::vector<int>{160, 161, 162, 163}));
    }
    EXPECT_EQ(m_tx.FrameSentCount.load(), 126);
}

TEST_F(FramePipeline, PicturesCarryTheFormatDescription)
{
    m_tx.encoder_pix_format_420 = 1;
    m_tx.setup_video_frame(52);
    m_tx.init_frame_drop_count = 0;
    script_frames(1);
    const vantor::test::Queued queued = run_frame_thread();
    ASSERT_EQ(queued.program.size(), 1U);
    ASSERT_EQ(queued.preview.size(), 1U);
    const NdiTransmitter::frame_t& program = *queued.program[0];
    EXPECT_EQ(program.xres, 3840);
    EXPECT_EQ(program.yres, 2160);
    EXPECT_EQ(program.frame_rate_N, 30000);
    EXPECT_EQ(program.frame_rate_D, 1001);
    EXPECT_EQ(program.FourCC, NDIlib_FourCC_type_SHQ0_highest_bandwidth);
    EXPECT_EQ(program.frame_format_type, NDIlib_frame_format_type_progressive);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(program.frame_data.get()),
                          static_cast<std::size_t>(program.frame_data_size)),
              speedhq_picture(1001));
    const NdiTransmitter::frame_t& preview = *queued.preview[0];
    EXPECT_EQ(preview.xres, 640);
    EXPECT_EQ(preview.yres, 360);
    EXPECT_EQ(preview.FourCC, NDIlib_FourCC_type_SHQ0_lowest_bandwidth);
    // The device saw the wait, the status read and each picture's selection, length and read.
    const std::vector<std::string> requests = m_fake->requests();
    const std::vector<std::string> expected = {"0",         "10=1", "read:6", "10=2",     "21=0",
                                               "read:1001", "10=3", "21=0",   "read:101", "10=1"};
    // After the device's preparation (1, 15, 20) and the chroma selection (3).
    ASSERT_GE(requests.size(), expected.size() + 4);
    EXPECT_EQ(std::vector<std::string>(requests.begin() + 4, requests.begin() + 14), expected);
}

TEST_F(FramePipeline, FormatsThatSkipPreviewEverySecondAcceptedFrame)
{
    m_tx.setup_video_frame(7);  // 720p59.94
    ASSERT_TRUE(m_tx.skip_prev_frame_en);
    script_frames(66);
    const vantor::test::Queued queued = run_frame_thread();
    EXPECT_EQ(sizes(queued.program), (std::vector<int>{1061, 1062, 1063, 1064, 1065, 1066}));
    EXPECT_EQ(sizes(queued.preview), (std::vector<int>{160, 162, 164, 166}));
}

TEST_F(FramePipeline, ARejectedProgramPictureTakesNoPreviewAndKeepsTheAlternation)
{
    m_tx.setup_video_frame(7);
    m_tx.init_frame_drop_count = 0;
    m_fake->add(frame(1, 5, 1001, 101));
    m_fake->add(frame(2, 1, 1002, 102));  // preview
    m_fake->add(frame(3, 2, 0, 103));     // empty: dropped
    ScriptedFrame corrupt = frame(4, 3, 1004, 104);
    corrupt.program = speedhq_picture(1004, 92, 0xFF);
    m_fake->add(corrupt);  // corrupt: dropped
    m_fake->add(frame(5, 4, 1005, 105));
    m_fake->add(frame(1, 5, 1006, 106));  // preview
    const vantor::test::Queued queued = run_frame_thread();
    EXPECT_EQ(sizes(queued.program), (std::vector<int>{1001, 1002, 1005, 1006}));
    EXPECT_EQ(sizes(queued.preview), (std::vector<int>{102, 106}));
}

TEST_F(FramePipeline, BadHeadersAndShortPicturesAreDropped)
{
    m_tx.setup_video_frame(52);
    m_tx.init_frame_drop_count = 0;
    ScriptedFrame quality = frame(1, 5, 1001);
    quality.program = speedhq_picture(1001, 100);  // quality above 99
    m_fake->add(quality);
    ScriptedFrame offset = frame(2, 1);
    offset.program = speedhq_picture(1002, 92, 4);
    offset.program[2] = 1;  // a second field somewhere: not a single-field picture
    m_fake->add(offset);
    ScriptedFrame preview = frame(3, 2, 1003, 103);
    preview.preview = speedhq_picture(103, 92, 0xFF);
    m_fake->add(preview);         // program kept, preview dropped
    m_fake->add(frame(4, 3, 3));  // too short for a header
    m_fake->add(frame(5, 4, 1));
    m_fake->add(frame(1, 5, 1006, 2));  // program kept, preview too short
    m_fake->add(frame(2, 1, 4, 4));     // just the header: both kept
    const vantor::test::Queued queued = run_frame_thread();
    EXPECT_EQ(sizes(queued.program), (std::vector<int>{1003, 1006, 4}));
    EXPECT_EQ(sizes(queued.preview), (std::vector<int>{4}));
    // Pictures too short for a header are not read at all.
    const std::vector<std::string> requests = m_fake->requests();
    EXPECT_EQ(count_of(requests, "read:3"), 0U);
    EXPECT_EQ(count_of(requests, "read:1"), 0U);
    EXPECT_EQ(count_of(requests, "read:2"), 0U);
    EXPECT_EQ(count_of(requests, "read:4"), 2U);
}

TEST_F(FramePipeline, LengthsBeyondAPlausiblePictureAreDroppedUnread)
{
    struct Case {
        const char* what;
        std::int32_t program_length;  // -1: the picture's own
        std::int32_t preview_length;
        bool program_read;  // the program picture's bytes are asked for
        bool preview_read;
    };
    // 2160p: 3840 x 2160 pictures and 640 x 360 previews, at most 4 bytes a pixel.
    const std::int32_t program_limit = 3840 * 2160 * 4;
    const std::int32_t preview_limit = 640 * 360 * 4;
    const Case cases[] = {
        {"program one byte too long", program_limit + 1, -1, false, false},
        {"program of the largest length", 0x7FFFFFFF, -1, false, false},
        {"program at the limit", program_limit, -1, true, false},
        {"preview one byte too long", -1, preview_limit + 1, true, false},
        {"preview at the limit", -1, preview_limit, true, true},
    };
    m_tx.setup_video_frame(52);
    m_tx.init_frame_drop_count = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_fake->clear_requests();
        ScriptedFrame scripted = frame(1, 5, 1001, 101);
        scripted.program_length = c.program_length;
        scripted.preview_length = c.preview_length;
        m_fake->add(scripted);
        m_fake->add(frame(2, 1, 1002, 102));
        const vantor::test::Queued queued = run_frame_thread();
        // A program picture at the limit is read, comes up short (the device has fewer bytes)
        // and is dropped too; the frame after it is taken as usual.
        const std::vector<int> expected =
            c.program_length < 0 ? std::vector<int>{1001, 1002} : std::vector<int>{1002};
        EXPECT_EQ(sizes(queued.program), expected);
        const std::vector<std::string> requests = m_fake->requests();
        const auto read_of = [&requests](std::int32_t length, std::int32_t own) {
            return count_of(requests, "read:" + std::to_string(length < 0 ? own : length));
        };
        EXPECT_EQ(read_of(c.program_length, 1001), c.program_read ? 1 : 0);
        EXPECT_EQ(read_of(c.preview_length, 101), c.preview_read ? 1 : 0);
    }
}

TEST_F(FramePipeline, APictureWhoseRecordCannotBeAllocatedIsDropped)
{
    m_tx.setup_video_frame(52);
    m_tx.init_frame_drop_count = 0;
    std::size_t record_size = 0;
    {
        const auto probe = std::make_shared<NdiTransmitter::frame_t>();
        record_size = t_last_size;
    }
    script_frames(2);
    SpeedHqDevice& device = m_tx.m_vantorspeedhqDevice;
    for (int i = 1; i <= 2; ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        std::int32_t wait = VANTOR_SPEEDHQ_RD_SEL_WAIT_FRAME;
        ASSERT_EQ(device.request(VANTOR_SPEEDHQ_IOCTL_RD_SEL, wait), 0);
        SpeedHqDevice::StatusRecord status{};
        ASSERT_EQ(device.read_status(status), i);
        // The first frame's two records cannot be allocated: both pictures are dropped.
        const bool fail = i == 1;
        t_fail_size = record_size;
        t_failures_left = fail ? 1 : 0;
        EXPECT_EQ(m_tx.copy_full(), !fail);
        EXPECT_EQ(t_failures_left, 0);
        t_failures_left = fail ? 1 : 0;
        EXPECT_EQ(m_tx.copy_prvw(), !fail);
        EXPECT_EQ(t_failures_left, 0);
    }
    ASSERT_EQ(m_tx.m_ndi_full_send_queue.size(), 1U);
    EXPECT_EQ(m_tx.m_ndi_full_send_queue.front()->frame_data_size, 1002);
    ASSERT_EQ(m_tx.m_ndi_prvw_send_queue.size(), 1U);
    EXPECT_EQ(m_tx.m_ndi_prvw_send_queue.front()->frame_data_size, 102);
}

TEST_F(FramePipeline, InvalidBufferIndicesAreReportedAndAboveFiveRestartTheEncoder)
{
    m_tx.setup_video_frame(52);
    m_tx.init_frame_drop_count = 0;
    m_fake->add(frame(0, 5));
    m_fake->add(frame(-1, 5));  // the status read fails
    m_fake->add(frame(6, 5));
    m_fake->add(frame(1, 5, 1001));
    CaptureStdout();
    const vantor::test::Queued queued = run_frame_thread();
    const std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("Buffer 0 \n!!!!!!!!!!!!!!!!!!!!!!!!!!!!NOVALID FRAME\n"),
              std::string::npos);
    EXPECT_NE(out.find("Buffer -1 \n!!!!!!!!!!!!!!!!!!!!!!!!!!!!NOVALID FRAME\n"),
              std::string::npos);
    EXPECT_NE(out.find("Buffer 6 \n!!!!!!!!!!!!!!!!!!!!!!!!!!!!NOVALID FRAME\n"),
              std::string::npos);
    EXPECT_EQ(count_of(out, "NOVALID FRAME"), 3U);
    EXPECT_EQ(sizes(queued.program), (std::vector<int>{1001}));
    EXPECT_EQ(m_tx.FrameSentCount.load(), 1);

    // Only index 6 restarts: stop and start between its status read and the next wait.
    const std::vector<std::string> requests = m_fake->requests();
    ASSERT_GE(requests.size(), 15U);
    const std::vector<std::string> after_start(requests.begin() + 5, requests.begin() + 15);
    EXPECT_EQ(after_start, (std::vector<std::string>{"10=1", "read:6", "10=1", "read:6", "10=1",
                                                     "read:6", "1", "0", "10=1", "read:6"}));
}

TEST_F(FramePipeline, ARepeatedBufferIndexIsCountedButGivesNoPictures)
{
    m_tx.setup_video_frame(52);
    m_tx.init_frame_drop_count = 0;
    m_fake->add(frame(1, 5, 1001));
    m_fake->add(frame(1, 1, 1002));  // the same buffer again
    m_fake->add(frame(2, 1, 1003));
    CaptureStdout();
    const vantor::test::Queued queued = run_frame_thread();
    const std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("Buffer 1 \n!!!!!!!!!!!!!!!!!!!!!!!!!!!!SAME FRAME\n"), std::string::npos);
    EXPECT_EQ(count_of(out, "SAME FRAME"), 1U);
    EXPECT_EQ(sizes(queued.program), (std::vector<int>{1001, 1003}));
    EXPECT_EQ(m_tx.FrameSentCount.load(), 3);
}

TEST_F(FramePipeline, InterlacedPicturesCarryTheReportedFieldParity)
{
    m_tx.setup_video_frame(19);
    m_tx.init_frame_drop_count = 0;
    for (int i = 0; i < 6; ++i) {
        ScriptedFrame field = frame(i % 5 + 1, (i + 4) % 5 + 1, 1000 + static_cast<std::size_t>(i));
        field.field = i % 2 == 0 ? 0 : 0x7FFFFFFF;  // only bit 0 counts
        m_fake->add(field);
    }
    const vantor::test::Queued queued = run_frame_thread();
    ASSERT_EQ(queued.program.size(), 6U);
    for (std::size_t i = 0; i < queued.program.size(); ++i) {
        EXPECT_EQ(queued.program[i]->yres, 540);
        EXPECT_EQ(queued.program[i]->frame_format_type,
                  i % 2 == 0 ? NDIlib_frame_format_type_field_0 : NDIlib_frame_format_type_field_1);
    }
    EXPECT_EQ(queued.preview.size(), 3U);
    for (const auto& preview : queued.preview) {
        EXPECT_EQ(preview->frame_format_type, NDIlib_frame_format_type_progressive);
    }
    EXPECT_EQ(count_of(m_fake->requests(), "9=0"), 6U);
}

TEST_F(FramePipeline, QueuesKeepTheThreeNewestPictures)
{
    m_tx.setup_video_frame(52);
    m_tx.init_frame_drop_count = 0;
    m_tx.max_queue_size = 3;
    script_frames(5);
    const vantor::test::Queued queued = run_frame_thread();
    EXPECT_EQ(sizes(queued.program), (std::vector<int>{1003, 1004, 1005}));
    EXPECT_EQ(sizes(queued.preview), (std::vector<int>{103, 104, 105}));
}

TEST_F(FramePipeline, AFailedWaitIsReportedAndRetriedAfterAPause)
{
    m_tx.frame_wait_retry_pause = std::chrono::milliseconds(50);
    m_tx.setup_video_frame(52);
    CaptureStdout();
    m_tx.encodeRunning.store(true);
    const auto started = std::chrono::steady_clock::now();
    std::thread frame_thread(&NdiTransmitter::wait_ndi_frame, &m_tx);
    EXPECT_TRUE(vantor::test::wait_until([&] { return m_fake->failed_waits() >= 4; }));
    m_tx.encodeRunning.store(false);
    frame_thread.join();
    const auto elapsed = std::chrono::steady_clock::now() - started;
    const std::string out = GetCapturedStdout();
    const size_t errors = count_of(out, "err ");
    EXPECT_GE(errors, 4);
    // Each failure is followed by a pause: never more failures than pauses fit in the time.
    EXPECT_LE(errors, 1 + static_cast<int>(elapsed / m_tx.frame_wait_retry_pause));
    drain();
}

// The send threads: every queued picture is handed over before the end mark ends the thread.
class SendThreads : public PipelineFixture {
protected:
    static std::unique_ptr<NdiTransmitter::frame_t> picture(int size)
    {
        auto frame = std::make_unique<NdiTransmitter::frame_t>();
        frame->xres = 640;
        frame->yres = 360;
        frame->FourCC =
            static_cast<NDIlib_FourCC_video_type_e>(NDIlib_FourCC_type_SHQ0_lowest_bandwidth);
        frame->frame_rate_N = 30000;
        frame->frame_rate_D = 1001;
        frame->frame_data = std::make_unique<unsigned char[]>(static_cast<std::size_t>(size));
        frame->frame_data_size = size;
        return frame;
    }
};

TEST_F(SendThreads, SendEverythingQueuedBeforeTheEndMark)
{
    for (int i = 0; i < 3; ++i) {
        m_tx.m_ndi_full_send_queue.push(picture(10 + i));
        m_tx.m_ndi_prvw_send_queue.push(picture(20 + i));
    }
    m_tx.m_ndi_full_send_queue.push(nullptr);
    m_tx.m_ndi_prvw_send_queue.push(nullptr);
    CaptureStdout();
    std::thread full(&NdiTransmitter::send_full, &m_tx);
    full.join();
    std::thread prvw(&NdiTransmitter::send_prvw, &m_tx);
    prvw.join();
    const std::string out = GetCapturedStdout();
    // No sender: each picture is reported and dropped, then the thread ends.
    EXPECT_EQ(out, "sender DEAD\nsender DEAD\nsender DEAD\nsend_full thread done!\n"
                   "sender DEAD\nsender DEAD\nsender DEAD\nsend_prvw thread done!\n");
    EXPECT_TRUE(m_tx.m_ndi_full_send_queue.empty());
    EXPECT_TRUE(m_tx.m_ndi_prvw_send_queue.empty());
}

// What the lifetime test sees, in order: "send N" when the runtime is asked to send picture N,
// "release N" when picture N is freed.
std::mutex g_events_lock;
std::vector<std::string> g_events;

void record_event(const std::string& event)
{
    const std::lock_guard<std::mutex> lock(g_events_lock);
    g_events.push_back(event);
}

// Each picture's bytes all hold its number.
void record_send(const NDIlib_video_frame_v2_t* video)
{
    if (video != nullptr && video->p_data != nullptr) {
        record_event("send " + std::to_string(video->p_data[0]));
    }
}

TEST_F(SendThreads, APictureIsReleasedOnlyAfterTheNextOfItsStreamWasSent)
{
    constexpr int kPictures = 6;
    constexpr int kPictureSize = 100 * 1024;  // large enough to be still in transit at the next
    ASSERT_TRUE(NDIlib_initialize());
    NDIlib_send_create_t create("pipeline lifetime test");
    m_tx.ndi_tx_inst = NDIlib_send_create_v2(&create);
    ASSERT_NE(m_tx.ndi_tx_inst, nullptr);
    const NDIlib_source_t* source = NDIlib_send_get_source_name(m_tx.ndi_tx_inst);
    ASSERT_NE(source, nullptr);
    NDIlib_recv_create_v3_t receive(NDIlib_source_t(nullptr, source->p_url_address),
                                    NDIlib_recv_bandwidth_all_video);
    NDIlib_recv_instance_t receiver = NDIlib_recv_create_v3(&receive);
    ASSERT_NE(receiver, nullptr);
    ASSERT_TRUE(vantor::test::wait_until(
        [&] { return NDIlib_send_get_no_connections(m_tx.ndi_tx_inst, 0) > 0; }));
    vantor_ndi_set_video_send_observer(record_send);

    struct Stream {
        const char* name;
        void (NdiTransmitter::*thread)();
        std::queue<std::shared_ptr<NdiTransmitter::frame_t>>& queue;
        int first;  // number of its first picture
    };
    const Stream streams[] = {
        {"program", &NdiTransmitter::send_full, m_tx.m_ndi_full_send_queue, 1},
        {"preview", &NdiTransmitter::send_prvw, m_tx.m_ndi_prvw_send_queue, 11}};
    for (const Stream& stream : streams) {
        SCOPED_TRACE(stream.name);
        g_events.clear();
        const int last = stream.first + kPictures - 1;
        for (int number = stream.first; number <= last; ++number) {
            std::shared_ptr<NdiTransmitter::frame_t> frame(
                picture(kPictureSize).release(), [number](NdiTransmitter::frame_t* released) {
                    record_event("release " + std::to_string(number));
                    delete released;
                });
            std::memset(frame->frame_data.get(), number, static_cast<std::size_t>(kPictureSize));
            stream.queue.push(std::move(frame));
        }
        stream.queue.push(nullptr);
        CaptureStdout();
        std::thread sender(stream.thread, &m_tx);

        // The receiver reads while the pictures go out; it may miss some, never the last, and
        // every picture it gets holds its own bytes.
        int received_last = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (received_last != last && std::chrono::steady_clock::now() < deadline) {
            NDIlib_video_frame_v2_t video;
            if (NDIlib_recv_capture_v2(receiver, &video, nullptr, nullptr, 100) !=
                NDIlib_frame_type_video) {
                continue;
            }
            ASSERT_EQ(video.data_size_in_bytes, kPictureSize);
            const int number = video.p_data[0];
            const std::vector<std::uint8_t> bytes(video.p_data, video.p_data + kPictureSize);
            EXPECT_EQ(bytes, std::vector<std::uint8_t>(bytes.size(), bytes[0]));
            received_last = number;
            NDIlib_recv_free_video_v2(receiver, &video);
        }
        sender.join();
        GetCapturedStdout();
        EXPECT_EQ(received_last, last);

        const std::lock_guard<std::mutex> lock(g_events_lock);
        const auto at = [](const std::string& event) {
            return std::find(g_events.begin(), g_events.end(), event) - g_events.begin();
        };
        for (int number = stream.first; number < last; ++number) {
            SCOPED_TRACE("picture " + std::to_string(number));
            const auto released = at("release " + std::to_string(number));
            ASSERT_LT(released, static_cast<long>(g_events.size())) << "released at all";
            EXPECT_LT(at("send " + std::to_string(number + 1)), released);
        }
        EXPECT_EQ(at("release " + std::to_string(last)), static_cast<long>(g_events.size()))
            << "the last picture stays with its stream";
    }

    vantor_ndi_set_video_send_observer(nullptr);
    NDIlib_recv_destroy(receiver);
    NDIlib_send_destroy(m_tx.ndi_tx_inst);  // before the pictures it may still use go
    m_tx.ndi_tx_inst = nullptr;
    m_tx.m_prev_video_frame[0].reset();
    m_tx.m_prev_video_frame[1].reset();
    NDIlib_destroy();
}

}  // namespace
