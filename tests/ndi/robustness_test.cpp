// Receivers that do not keep up, receivers that send garbage, many receivers, many calling threads.

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <thread>

#include "codec.h"
#include "ndi_test_util.h"
#include "sender.h"

namespace vantor::test {
namespace {

using SenderRobustness = NdiTest;

// Sends numbered pictures: byte 0 holds the number.
void send_numbered(NDIlib_send_instance_t sender, std::vector<std::uint8_t>& buffer, int number)
{
    buffer[0] = static_cast<std::uint8_t>(number);
    NDIlib_video_frame_v2_t frame = program_frame(buffer);
    NDIlib_send_send_video_async_v2(sender, &frame);
}

TEST_F(SenderRobustness, StuckReceiverDoesNotStallAnother)
{
    SenderPtr sender = make_sender("stuck");
    RawClient stuck(address_of(sender.get()), 4096);
    ASSERT_TRUE(stuck.send_hello());
    ReceiverPtr healthy = make_receiver(sender.get());
    ASSERT_TRUE(wait_for_connections(sender.get(), 2));

    // Far more than the stuck connection's socket buffers and queue can hold.
    constexpr int kPictures = 100;
    std::vector<std::uint8_t> a(std::size_t{512} * 1024);
    std::vector<std::uint8_t> b(std::size_t{512} * 1024);
    int received = 0;
    int last = -1;
    // The stuck reader's program still lives: its heartbeats keep it connected (a slow sanitizer
    // build takes longer than the silence limit).
    const std::vector<std::uint8_t> heartbeat = vantor::ndi::encode_heartbeat();
    for (int n = 0; n < kPictures; ++n) {
        send_numbered(sender.get(), n % 2 == 0 ? a : b, n);
        stuck.send_bytes(heartbeat);
        // The healthy receiver keeps up (it may lose pictures only if this machine is very slow).
        NDIlib_video_frame_v2_t frame;
        while (NDIlib_recv_capture_v2(healthy.get(), &frame, nullptr, nullptr, 0) ==
               NDIlib_frame_type_video) {
            ++received;
            last = frame.p_data[0];
            NDIlib_recv_free_video_v2(healthy.get(), &frame);
        }
    }
    NDIlib_send_send_video_async_v2(sender.get(), nullptr);
    // The last picture always arrives: nothing waits for the stuck connection.
    EXPECT_TRUE(wait_until([&] {
        stuck.send_bytes(heartbeat);
        NDIlib_video_frame_v2_t frame;
        while (NDIlib_recv_capture_v2(healthy.get(), &frame, nullptr, nullptr, 10) ==
               NDIlib_frame_type_video) {
            ++received;
            last = frame.p_data[0];
            NDIlib_recv_free_video_v2(healthy.get(), &frame);
        }
        return last == kPictures - 1;
    }));
    NDIlib_recv_performance_t total;
    NDIlib_recv_performance_t dropped;
    NDIlib_recv_get_performance(healthy.get(), &total, &dropped);
    // Every picture was either captured or counted as lost (by the sender or the receiver queue).
    EXPECT_EQ(received + dropped.video_frames, kPictures);
    EXPECT_GE(total.video_frames, received);
    EXPECT_EQ(NDIlib_send_get_no_connections(sender.get(), 0), 2);

    // The stuck connection, drained now, got at most what its queue and the socket buffers held
    // (the rest was dropped for it), and still the last picture.
    int stuck_pictures = 0;
    std::uint32_t last_sequence = 0;
    while (last_sequence != kPictures - 1) {
        std::uint8_t header[8];
        ASSERT_TRUE(stuck.read_exact(header, sizeof header));
        const std::uint32_t length = header[4] | (header[5] << 8) | (header[6] << 16) |
                                     (static_cast<std::uint32_t>(header[7]) << 24);
        std::vector<std::uint8_t> payload(length);
        ASSERT_TRUE(stuck.read_exact(payload.data(), payload.size()));
        if (header[2] == 0x11) {
            ++stuck_pictures;
            NDIlib_video_frame_v2_t picture;
            std::string error;
            ASSERT_TRUE(vantor::ndi::decode_video(payload, picture, last_sequence, error)) << error;
            vantor::ndi::free_video(picture);
        }
    }
    int send_buffer = 0;
    std::ifstream("/proc/sys/net/ipv4/tcp_wmem") >> send_buffer >> send_buffer >> send_buffer;
    const int in_buffers = 2 + (send_buffer + 65536) / static_cast<int>(a.size());
    EXPECT_LE(stuck_pictures,
              static_cast<int>(vantor::ndi::Sender::kQueuedVideoPerStream) + in_buffers);
}

TEST_F(SenderRobustness, ReceiverQueueDropsOldestAndCountsThem)
{
    SenderPtr sender = make_sender("queue");
    ReceiverPtr receiver = make_receiver(sender.get());
    ASSERT_TRUE(wait_for_connections(sender.get(), 1));
    std::vector<std::uint8_t> picture(1000);
    NDIlib_recv_performance_t total;
    NDIlib_recv_performance_t dropped;
    for (int n = 0; n < 20; ++n) {
        picture[0] = static_cast<std::uint8_t>(n);
        NDIlib_video_frame_v2_t frame = program_frame(picture);
        NDIlib_send_send_video_v2(sender.get(), &frame);
        // One at a time, so that the sender's own queue never overflows.
        ASSERT_TRUE(wait_until([&] {
            NDIlib_recv_get_performance(receiver.get(), &total, &dropped);
            return total.video_frames == n + 1;
        }));
    }
    // Nobody captures: eight stay queued, the twelve older ones are counted as lost.
    EXPECT_EQ(dropped.video_frames, 12);
    int first = -1;
    for (int n = 0; n < 8; ++n) {
        const std::optional<Picture> got = next_picture(receiver.get());
        ASSERT_TRUE(got);
        if (n == 0) {
            first = got->data[0];
        }
        EXPECT_EQ(got->data[0], first + n);
    }
    EXPECT_EQ(first, 12);
    EXPECT_EQ(dropped.video_frames_lowest_bandwidth, 0);
}

struct BadInput {
    const char* name;
    std::vector<std::uint8_t> bytes;
    bool close_after;  // the client closes its side after sending
    const char* reason;
};

class SenderBadInput : public NdiTest, public ::testing::WithParamInterface<BadInput> {};

TEST_P(SenderBadInput, OffendingReceiverIsDisconnectedWithOneLineOthersServed)
{
    const BadInput& input = GetParam();
    StdoutCapture output;
    SenderPtr sender = make_sender("bad input");
    ReceiverPtr healthy = make_receiver(sender.get());
    ASSERT_TRUE(wait_for_connections(sender.get(), 1));

    RawClient offender(address_of(sender.get()));
    ASSERT_TRUE(offender.send_bytes(input.bytes));
    if (input.close_after) {
        ::shutdown(offender.fd(), SHUT_WR);
    }
    EXPECT_TRUE(offender.wait_closed());
    EXPECT_TRUE(wait_until([&] { return !output.lines_with("disconnected").empty(); }));
    const std::vector<std::string> lines = output.lines_with("ndi:");
    ASSERT_EQ(lines.size(), 1U) << output.text();
    EXPECT_NE(lines[0].find("sender 'bad input': receiver 127.0.0.1:"), std::string::npos)
        << lines[0];
    EXPECT_NE(lines[0].find(input.reason), std::string::npos) << lines[0];

    // The healthy receiver is still served, both ways.
    char text[] = "<still here/>";
    NDIlib_metadata_frame_t frame(0, 0, text);
    NDIlib_send_send_metadata(sender.get(), &frame);
    EXPECT_EQ(next_metadata(healthy.get()), "<still here/>");
    ASSERT_TRUE(NDIlib_recv_send_metadata(healthy.get(), &frame));
    EXPECT_EQ(next_captured(sender.get()), "<still here/>");
    EXPECT_EQ(NDIlib_send_get_no_connections(sender.get(), 0), 1);
}

std::vector<std::uint8_t> hello_then(std::vector<std::uint8_t> rest)
{
    const std::uint8_t hello[] = {'V', 'N', 0x01, 0, 4, 0, 0, 0, 0x07, 0, 0, 0};
    std::vector<std::uint8_t> bytes(sizeof hello + rest.size());
    std::copy(std::begin(hello), std::end(hello), bytes.begin());
    std::copy(rest.begin(), rest.end(), bytes.begin() + sizeof hello);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, SenderBadInput,
    ::testing::Values(
        BadInput{"Garbage",
                 {'G', 'E', 'T', ' ', '/', ' ', 'H', 'T', 'T', 'P'},
                 false,
                 "not a message header"},
        BadInput{"GarbageAfterHello", hello_then({0xde, 0xad, 0xbe, 0xef, 1, 2, 3, 4}), false,
                 "not a message header"},
        BadInput{"OversizedLength", hello_then({'V', 'N', 0x02, 0, 0x00, 0x00, 0x00, 0x40}), false,
                 "exceeds 65536"},
        BadInput{"TruncatedFrame", hello_then({'V', 'N', 0x02, 0, 100, 0, 0, 0, 1, 2, 3}), true,
                 "closed inside a message (11 of 108 bytes)"},
        BadInput{"TruncatedHeader", hello_then({'V', 'N', 0x02}), true,
                 "closed inside a message (3 of 8 bytes)"},
        BadInput{"MetadataBeforeHello",
                 {'V', 'N', 0x02, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                 false,
                 "metadata message before hello"},
        BadInput{"PictureFromAReceiver", hello_then({'V', 'N', 0x11, 0, 0, 0, 0, 0}), false,
                 "unexpected message type video"},
        BadInput{"BadTally", hello_then({'V', 'N', 0x03, 0, 2, 0, 0, 0, 7, 0}), false,
                 "malformed tally"},
        BadInput{"ShortMetadata", hello_then({'V', 'N', 0x02, 0, 3, 0, 0, 0, 1, 2, 3}), false,
                 "metadata message too short"},
        BadInput{"SecondHello", hello_then(hello_then({})), false, "second hello"}),
    [](const ::testing::TestParamInfo<BadInput>& param) { return param.param.name; });

TEST_F(SenderRobustness, ManyReceiversAllGetEverything)
{
    constexpr int kReceivers = 16;
    SenderPtr sender = make_sender("many");
    char product[] = "<ndi_product/>";
    NDIlib_metadata_frame_t product_frame(0, 0, product);
    NDIlib_send_add_connection_metadata(sender.get(), &product_frame);
    std::vector<ReceiverPtr> receivers;
    receivers.reserve(kReceivers);
    for (int i = 0; i < kReceivers; ++i) {
        receivers.push_back(make_receiver(sender.get(), NDIlib_recv_bandwidth_highest, i % 2 == 0));
    }
    ASSERT_TRUE(wait_for_connections(sender.get(), kReceivers));
    const NDIlib_tally_t preview(false, true);
    NDIlib_recv_set_tally(receivers.back().get(), &preview);

    std::vector<std::uint8_t> picture = pattern(200000, 42);
    NDIlib_video_frame_v2_t frame = program_frame(picture);
    NDIlib_send_send_video_async_v2(sender.get(), &frame);
    NDIlib_send_send_video_async_v2(sender.get(), nullptr);
    for (const ReceiverPtr& receiver : receivers) {
        EXPECT_EQ(next_metadata(receiver.get()), "<ndi_product/>");
        const std::optional<Picture> got = next_picture(receiver.get());
        ASSERT_TRUE(got);
        EXPECT_EQ(got->data, picture);
    }
    NDIlib_tally_t tally;
    EXPECT_TRUE(wait_until([&] {
        NDIlib_send_get_tally(sender.get(), &tally, 10);
        return tally.on_preview && !tally.on_program;
    }));
}

// The firmware's threads all call one sender at once: two video streams, audio, metadata out,
// capture and tally. Receivers come and go meanwhile.
TEST_F(SenderRobustness, ManyThreadsCallOneSenderAtOnce)
{
    SenderPtr sender = make_sender("busy");
    ReceiverPtr watcher = make_receiver(sender.get(), NDIlib_recv_bandwidth_all_video);
    ASSERT_TRUE(wait_for_connections(sender.get(), 1));
    std::atomic<bool> running{true};
    std::atomic<int> visits{0};
    std::vector<std::thread> threads;
    // The pictures outlive every send: the last one stays in use until the sender is told so.
    std::vector<std::uint8_t> program_buffers[2] = {pattern(60000, 1), pattern(60000, 2)};
    std::vector<std::uint8_t> preview_buffers[2] = {pattern(5000, 3), pattern(5000, 4)};
    threads.emplace_back([&] {
        for (int n = 0; running; ++n) {
            NDIlib_video_frame_v2_t frame = program_frame(program_buffers[n % 2]);
            NDIlib_send_send_video_async_v2(sender.get(), &frame);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // paced, as an encoder is
        }
    });
    threads.emplace_back([&] {
        for (int n = 0; running; ++n) {
            std::vector<std::uint8_t>& buffer = preview_buffers[n % 2];
            NDIlib_video_frame_v2_t frame(640, 360,
                                          fourcc(NDIlib_FourCC_type_SHQ0_lowest_bandwidth));
            frame.p_data = buffer.data();
            frame.data_size_in_bytes = static_cast<int>(buffer.size());
            NDIlib_send_send_video_async_v2(sender.get(), &frame);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // paced, as an encoder is
        }
    });
    threads.emplace_back([&] {
        std::vector<float> samples(960, 0.25F);
        NDIlib_audio_frame_interleaved_32f_t block(48000, 2, 480, NDIlib_send_timecode_synthesize,
                                                   samples.data());
        while (running) {
            NDIlib_util_send_send_audio_interleaved_32f(sender.get(), &block);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    threads.emplace_back([&] {
        char text[] = "<status/>";
        NDIlib_metadata_frame_t frame(0, NDIlib_send_timecode_synthesize, text);
        while (running) {
            NDIlib_send_send_metadata(sender.get(), &frame);
            NDIlib_tally_t tally;
            NDIlib_send_get_tally(sender.get(), &tally, 10);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    threads.emplace_back([&] {
        while (running) {
            NDIlib_metadata_frame_t frame;
            if (NDIlib_send_capture(sender.get(), &frame, 100) == NDIlib_frame_type_metadata) {
                NDIlib_send_free_metadata(sender.get(), &frame);
            }
        }
    });
    threads.emplace_back([&] {
        char command[] = "<ntk_ptz_inq_command/>";
        NDIlib_metadata_frame_t frame(0, 0, command);
        const NDIlib_tally_t on(true, false);
        while (running) {
            ReceiverPtr visitor = make_receiver(sender.get(), NDIlib_recv_bandwidth_lowest);
            wait_until([&] { return NDIlib_recv_get_no_connections(visitor.get()) == 1; });
            NDIlib_recv_set_tally(visitor.get(), &on);
            NDIlib_recv_send_metadata(visitor.get(), &frame);
            ++visits;
        }
    });

    int program = 0;
    int preview = 0;
    int audio = 0;
    const auto enough = [&] {
        return program >= 30 && preview >= 30 && audio >= 10 && visits.load() >= 3;
    };
    // The watcher takes everything that arrives, as fast as it arrives.
    EXPECT_TRUE(wait_until([&] {
        NDIlib_video_frame_v2_t video;
        NDIlib_audio_frame_interleaved_32f_t block;
        NDIlib_metadata_frame_t metadata;
        while (!enough()) {
            switch (NDIlib_recv_capture_v2(watcher.get(), &video, &block, &metadata, 10)) {
            case NDIlib_frame_type_video:
                ++(video.FourCC == fourcc(NDIlib_FourCC_type_SHQ0_lowest_bandwidth) ? preview
                                                                                    : program);
                NDIlib_recv_free_video_v2(watcher.get(), &video);
                continue;
            case NDIlib_frame_type_audio:
                ++audio;
                NDIlib_recv_free_audio_interleaved_32f(watcher.get(), &block);
                continue;
            case NDIlib_frame_type_metadata:
                NDIlib_recv_free_metadata(watcher.get(), &metadata);
                continue;
            default:
                return false;
            }
        }
        return true;
    })) << "program "
        << program << " preview " << preview << " audio " << audio;
    running = false;
    for (std::thread& thread : threads) {
        thread.join();
    }
    NDIlib_send_send_video_async_v2(sender.get(), nullptr);
}

using SenderHardening = NdiTest;

// The /proc stat file of the sender's I/O thread ("ndi-send-io"), opened; invalid when not found.
UniqueFd open_io_thread_stat()
{
    const std::unique_ptr<DIR, int (*)(DIR*)> tasks(::opendir("/proc/self/task"), ::closedir);
    while (const dirent* task = tasks ? ::readdir(tasks.get()) : nullptr) {
        const std::string dir = std::string("/proc/self/task/") + task->d_name;
        if (task->d_name[0] != '.' && read_text(dir + "/comm") == "ndi-send-io\n") {
            return UniqueFd(::open((dir + "/stat").c_str(), O_RDONLY | O_CLOEXEC));
        }
    }
    return {};
}

// Clock ticks of CPU (user and system) the thread of an open stat file has used.
long ticks_of(const UniqueFd& stat_file)
{
    char text[1024] = {};
    if (::pread(stat_file.get(), text, sizeof text - 1, 0) <= 0) {
        return -1;
    }
    // Fields from the third on follow the command name's closing parenthesis.
    const char* field = std::strrchr(text, ')');
    long ticks = 0;
    for (int number = 3; field != nullptr && number <= 15; ++number) {
        field = std::strchr(field + 1, ' ');
        if (field != nullptr && number >= 14) {
            ticks += std::strtol(field + 1, nullptr, 10);  // fields 14 and 15: utime, stime
        }
    }
    return ticks;
}

// Out of descriptors, a waiting connection keeps the listening socket readable: the I/O thread
// pauses accepting instead of spinning on it, and takes the connection once descriptors are back.
TEST_F(SenderHardening, OutOfDescriptorsAcceptingPausesAndResumes)
{
    StdoutCapture output;
    SenderPtr sender = make_sender("no descriptors");
    RawClient client(address_of(sender.get()), 0, false);  // the socket only, not connected
    UniqueFd stat_file;
    ASSERT_TRUE(wait_until([&] { return (stat_file = open_io_thread_stat()).valid(); }));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    long used = -1;
    bool connected = false;
    {
        // Every descriptor taken; nothing below may open one until they are given back.
        std::vector<UniqueFd> filler;
        rlimit tight = saved;
        tight.rlim_cur = static_cast<rlim_t>(::dup(0));
        ::close(static_cast<int>(tight.rlim_cur));
        tight.rlim_cur += 16;
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
        for (UniqueFd fd(::dup(0)); fd; fd = UniqueFd(::dup(0))) {
            filler.push_back(std::move(fd));
        }
        connected = client.connect_now();
        // The observation window: a spinning I/O thread would use all of it.
        const long before = ticks_of(stat_file);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        used = ticks_of(stat_file) - before;
        filler.clear();
        ::setrlimit(RLIMIT_NOFILE, &saved);
    }
    ASSERT_TRUE(connected);
    EXPECT_GE(used, 0);
    EXPECT_LT(used, 10) << "clock ticks used by the I/O thread in 0.5 s";
    EXPECT_FALSE(output.lines_with("cannot accept a receiver (Too many open files)").empty())
        << output.text();
    ASSERT_TRUE(client.send_hello());
    EXPECT_TRUE(wait_for_connections(sender.get(), 1));
    EXPECT_LE(output.lines_with("cannot accept").size(), 11U) << output.text();
}

// Lines receivers cause go out at a bounded rate, and a standard output nobody reads (a full
// pipe) never holds up the I/O thread: pictures keep flowing to a healthy receiver.
TEST_F(SenderHardening, PeerLinesAreRateLimitedAndNeverBlockTheIoThread)
{
    int pipe_ends[2];
    ASSERT_EQ(::pipe2(pipe_ends, O_NONBLOCK | O_CLOEXEC), 0);
    const UniqueFd reading(pipe_ends[0]);
    const UniqueFd writing(pipe_ends[1]);
    const std::vector<char> block(4096, 'x');
    while (::write(writing.get(), block.data(), block.size()) > 0) {
    }
    ::fcntl(writing.get(), F_SETFL, 0);  // a blocking, full standard output
    std::fflush(stdout);
    const UniqueFd saved(::dup(STDOUT_FILENO));
    ::dup2(writing.get(), STDOUT_FILENO);

    SenderPtr sender = make_sender("full output");
    ReceiverPtr healthy = make_receiver(sender.get());
    const bool connected = wait_for_connections(sender.get(), 1);
    for (int i = 0; i < 3; ++i) {
        RawClient offender(address_of(sender.get()));
        offender.send_bytes({'G', 'E', 'T', ' ', '/', ' ', 'H', 'T', 'T', 'P'});
        offender.wait_closed(std::chrono::seconds(5));
    }
    std::vector<std::uint8_t> data = pattern(1000, 7);
    NDIlib_video_frame_v2_t frame = program_frame(data);
    NDIlib_send_send_video_v2(sender.get(), &frame);
    const std::optional<Picture> got = next_picture(healthy.get());

    // Standard output drained: later lines go out again, at the bounded rate.
    std::vector<char> drained(65536);
    while (::read(reading.get(), drained.data(), drained.size()) > 0) {
    }
    ::dup2(saved.get(), STDOUT_FILENO);
    {
        StdoutCapture output;
        SenderPtr talkative = make_sender("talkative");
        for (int i = 0; i < 30; ++i) {
            RawClient offender(address_of(talkative.get()));
            offender.send_bytes({'G', 'E', 'T', ' ', '/', ' ', 'H', 'T', 'T', 'P'});
            offender.wait_closed();
        }
        talkative.reset();
        EXPECT_EQ(output.lines_with("disconnected").size(), 10U) << output.text();
        // The first line that went out said how many could not.
        EXPECT_EQ(output.lines_with("lines dropped: output full").size(), 1U) << output.text();
    }
    EXPECT_TRUE(connected);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->data, data);
}

}  // namespace
}  // namespace vantor::test
