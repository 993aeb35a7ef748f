// The framing, payload codecs, configuration parsing and target frame size, below the sockets.

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "codec.h"
#include "config.h"
#include "frame_size.h"
#include "message_reader.h"
#include "ndi_test_util.h"
#include "net.h"
#include "wire.h"

namespace vantor::ndi {
namespace {

using vantor::test::fourcc;

// Firmware built here must also build against runtimes where the compressed codes are not of the
// frame field's type: here they are not either, so a missing cast does not compile.
static_assert(!std::is_same_v<NDIlib_FourCC_video_type_ex_e, NDIlib_FourCC_video_type_e>);
static_assert(!std::is_convertible_v<NDIlib_FourCC_video_type_ex_e, NDIlib_FourCC_video_type_e>);

std::string header_error(std::vector<std::uint8_t> bytes, Direction direction)
{
    Header header;
    return check_header(bytes.data(), direction, header);
}

TEST(NdiWire, HeaderChecksRefuseWhatDoesNotBelong)
{
    std::vector<std::uint8_t> good;
    put_header(good, MessageType::Metadata, 10);
    Header header;
    EXPECT_EQ(check_header(good.data(), Direction::ToSender, header), "");
    EXPECT_EQ(header.type, MessageType::Metadata);
    EXPECT_EQ(header.length, 10U);

    EXPECT_NE(header_error({'G', 'E', 'T', ' ', '/', ' ', 'H', 'T'}, Direction::ToSender)
                  .find("not a message header"),
              std::string::npos);
    // A receiver may not send pictures, a sender may not send a hello.
    EXPECT_NE(header_error({'V', 'N', 0x11, 0, 0, 0, 0, 0}, Direction::ToSender)
                  .find("unexpected message type video"),
              std::string::npos);
    EXPECT_NE(header_error({'V', 'N', 0x01, 0, 0, 0, 0, 0}, Direction::ToReceiver), "");
    EXPECT_NE(header_error({'V', 'N', 0x7f, 0, 0, 0, 0, 0}, Direction::ToReceiver).find("0x7f"),
              std::string::npos);
    EXPECT_NE(header_error({'V', 'N', 0x02, 0x80, 0, 0, 0, 0}, Direction::ToSender), "");
    // Lengths: 64 KiB from a receiver, 64 MiB from a sender; the length is little-endian.
    EXPECT_EQ(header_error({'V', 'N', 0x02, 0, 0x00, 0x00, 0x01, 0x00}, Direction::ToSender), "");
    EXPECT_NE(header_error({'V', 'N', 0x02, 0, 0x01, 0x00, 0x01, 0x00}, Direction::ToSender)
                  .find("exceeds 65536"),
              std::string::npos);
    EXPECT_NE(header_error({'V', 'N', 0x11, 0, 0xff, 0xff, 0xff, 0xff}, Direction::ToReceiver), "");
}

TEST(NdiWire, VideoPayloadRoundTrip)
{
    std::vector<std::uint8_t> data = {1, 2, 3, 250, 0, 7};
    NDIlib_video_frame_v2_t frame(640, 360, fourcc(NDIlib_FourCC_type_SHQ0_lowest_bandwidth), 30000,
                                  1001, 16.0F / 9.0F, NDIlib_frame_format_type_field_1,
                                  123456789012LL, data.data(), static_cast<int>(data.size()),
                                  "<x/>");
    ASSERT_EQ(video_data_size(frame), 6);
    // Timecode and timestamp past 2038-01-19 travel in full.
    std::vector<std::uint8_t> message =
        encode_video_head(frame, 6, 0xfffffffeU, 22089888001234567, 21474836480000001);
    message.insert(message.end(), data.begin(), data.end());
    Header header;
    ASSERT_EQ(check_header(message.data(), Direction::ToReceiver, header), "");
    ASSERT_EQ(header.length, message.size() - kHeaderSize);

    const std::vector<std::uint8_t> payload(message.begin() + kHeaderSize, message.end());
    NDIlib_video_frame_v2_t decoded;
    std::uint32_t sequence = 0;
    std::string error;
    ASSERT_TRUE(decode_video(payload, decoded, sequence, error)) << error;
    EXPECT_EQ(decoded.xres, 640);
    EXPECT_EQ(decoded.yres, 360);
    EXPECT_EQ(decoded.FourCC, fourcc(NDIlib_FourCC_type_SHQ0_lowest_bandwidth));
    EXPECT_EQ(decoded.frame_rate_N, 30000);
    EXPECT_EQ(decoded.frame_rate_D, 1001);
    EXPECT_FLOAT_EQ(decoded.picture_aspect_ratio, 16.0F / 9.0F);
    EXPECT_EQ(decoded.frame_format_type, NDIlib_frame_format_type_field_1);
    EXPECT_EQ(decoded.timecode, 22089888001234567);
    EXPECT_EQ(decoded.timestamp, 21474836480000001);
    EXPECT_EQ(sequence, 0xfffffffeU);
    EXPECT_STREQ(decoded.p_metadata, "<x/>");
    ASSERT_EQ(decoded.data_size_in_bytes, 6);
    EXPECT_EQ(std::memcmp(decoded.p_data, data.data(), 6), 0);
    free_video(decoded);

    // Every shorter payload is refused without allocating (ASan checks the latter).
    for (std::size_t size = 0; size < kVideoFixedSize + 4; ++size) {
        const std::vector<std::uint8_t> cut(payload.begin(),
                                            payload.begin() + static_cast<long>(size));
        NDIlib_video_frame_v2_t refused;
        EXPECT_FALSE(decode_video(cut, refused, sequence, error)) << size;
    }
}

TEST(NdiWire, UncompressedPictureSizeFollowsStride)
{
    std::vector<std::uint8_t> data(std::size_t{8} * 2 * 4);
    NDIlib_video_frame_v2_t frame(8, 4, NDIlib_FourCC_type_UYVY);
    frame.p_data = data.data();
    frame.line_stride_in_bytes = 0;  // tightly packed: 2 bytes per pixel
    EXPECT_EQ(video_data_size(frame), 64);
    frame.line_stride_in_bytes = 32;
    EXPECT_EQ(video_data_size(frame), 128);
    frame.FourCC = fourcc(NDIlib_FourCC_type_SHQ2_highest_bandwidth);
    frame.data_size_in_bytes = -5;
    EXPECT_EQ(video_data_size(frame), -1);
    frame.p_data = nullptr;
    EXPECT_EQ(video_data_size(frame), 0);  // no data: an empty picture
}

TEST(NdiWire, AudioPayloadRoundTripAndInconsistentCounts)
{
    std::vector<float> samples = {0.5F, -0.25F, 1.0F, -1.0F, 0.0F, 0.125F};
    NDIlib_audio_frame_interleaved_32f_t frame(48000, 2, 3, 9, samples.data());
    const std::vector<std::uint8_t> message = encode_audio(frame, 5, 9, 11);
    std::vector<std::uint8_t> payload(message.begin() + kHeaderSize, message.end());
    NDIlib_audio_frame_interleaved_32f_t decoded;
    std::uint32_t sequence = 0;
    std::string error;
    ASSERT_TRUE(decode_audio(payload, decoded, sequence, error)) << error;
    EXPECT_EQ(decoded.no_channels, 2);
    EXPECT_EQ(decoded.no_samples, 3);
    EXPECT_EQ(sequence, 5U);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        EXPECT_EQ(decoded.p_data[i], samples[i]);
    }
    free_audio(decoded);

    payload.pop_back();  // one byte short of the samples announced
    EXPECT_FALSE(decode_audio(payload, decoded, sequence, error));
    EXPECT_NE(error.find("inconsistent"), std::string::npos);
}

TEST(NdiWire, TallyAndMetadataPayloads)
{
    NDIlib_tally_t tally;
    std::string error;
    EXPECT_TRUE(decode_tally({1, 0}, tally, error));
    EXPECT_TRUE(tally.on_program);
    EXPECT_FALSE(tally.on_preview);
    EXPECT_FALSE(decode_tally({2, 0}, tally, error));
    EXPECT_FALSE(decode_tally({1}, tally, error));

    std::string text;
    std::int64_t timecode = 0;
    EXPECT_FALSE(decode_metadata({1, 2, 3}, text, timecode, error));
    const std::vector<std::uint8_t> message = encode_metadata(std::string("<a/>\0tail", 9), 3);
    ASSERT_TRUE(
        decode_metadata({message.begin() + kHeaderSize, message.end()}, text, timecode, error));
    EXPECT_EQ(text, "<a/>");  // a text ends at its first NUL
    EXPECT_EQ(timecode, 3);

    char buffer[] = "<ntk_ptz_inq_command/>";
    EXPECT_EQ(metadata_text(NDIlib_metadata_frame_t(0, 0, buffer)), buffer);
    EXPECT_EQ(metadata_text(NDIlib_metadata_frame_t(5, 0, buffer)), "<ntk_");
}

TEST(NdiConfig, FirmwareTextsParseAndVendorIsKept)
{
    const char* tcp =
        R"({"ndi":{"tcp":{"send":{"enable":true},"recv":{"enable":true}},"vendor":{"name":"Vantor","id":"6F0D2C1A-93B4-4E07-A5C8-2D61B7E40F93"}}})";
    SenderConfig config = parse_sender_config(tcp);
    EXPECT_TRUE(config.valid) << config.error;
    EXPECT_EQ(config.vendor_name, "Vantor");
    EXPECT_EQ(config.vendor_id, "6F0D2C1A-93B4-4E07-A5C8-2D61B7E40F93");

    const char* multicast =
        R"({"ndi":{"multicast":{"send":{"ttl":1,"enable":true,"netmask":"255.255.0.0","netprefix":"239.255.0.0"},"recv":{"enable":true}},"networks":{"discovery": "10.0.0.5"},"vendor":{"name":"Vantor","id":"x"}}})";
    EXPECT_TRUE(parse_sender_config(multicast).valid);
    EXPECT_TRUE(parse_sender_config(nullptr).valid);
    EXPECT_TRUE(parse_sender_config("  ").valid);
    EXPECT_TRUE(parse_sender_config(R"({"a":[1,-2.5e3,null,false,"\"\\\u0041"]})").valid);
}

TEST(NdiConfig, MalformedTextsGiveDefaultsWithAReason)
{
    // A missing multicast time-to-live is written as the bare word NULL.
    const char* texts[] = {
        R"({"ndi":{"multicast":{"send":{"ttl":NULL,"enable":true}}}})",
        R"({"ndi":{"vendor":{"name":"Vantor")",
        R"({"ndi":{}} trailing)",
        R"({"a" 1})",
        "{\"a\":\"line\nbreak\"}",
    };
    for (const char* text : texts) {
        const SenderConfig config = parse_sender_config(text);
        EXPECT_FALSE(config.valid) << text;
        EXPECT_NE(config.error.find("at offset"), std::string::npos) << text;
        EXPECT_EQ(config.vendor_name, "");
    }
    // Deep nesting is refused, not followed down the stack.
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_FALSE(parse_sender_config(deep.c_str()).valid);
}

TEST(NdiFrameSize, FollowsTheSpeedHqDataRates)
{
    // 1080p60: 125 Mbit/s; 2160p60: 250 Mbit/s; bytes per frame = rate / 8 / frames per second.
    EXPECT_EQ(target_frame_size(1920, 1080, 60, 1), 260416);
    EXPECT_EQ(target_frame_size(3840, 2160, 60, 1), 520833);
    // 1080p59.94 is a hair larger per frame than 1080p60.
    const int p5994 = target_frame_size(1920, 1080, 60000, 1001);
    EXPECT_GT(p5994, 260416);
    EXPECT_LT(p5994, 260700);
    // 1080p30: the rate is 125 / sqrt(2) = 88.4 Mbit/s.
    EXPECT_EQ(target_frame_size(1920, 1080, 30, 1), 368284);
    EXPECT_EQ(target_frame_size(3840, 2160, 30, 1), 736569);
    EXPECT_EQ(target_frame_size(0, 1080, 60, 1), 0);
    EXPECT_EQ(target_frame_size(1920, 1080, 60, 0), 0);
    EXPECT_EQ(target_frame_size(1920, 1080, -60, 1), 0);

    NDIlib_video_frame_v2_t frame(3840, 2160, fourcc(NDIlib_FourCC_type_SHQ2_highest_bandwidth),
                                  30000, 1001);
    EXPECT_EQ(NDIlib_send_get_target_frame_size(nullptr, &frame),
              target_frame_size(3840, 2160, 30000, 1001));
    EXPECT_EQ(NDIlib_send_get_target_frame_size(nullptr, nullptr), 0);
}

}  // namespace
}  // namespace vantor::ndi

namespace vantor::ndi {
namespace {

// A peer announcing the largest payload but sending little of it holds memory for what arrived,
// not for what it announced; the message still completes when all of it has come.
TEST(NdiMessageReader, PayloadMemoryGrowsWithWhatArrives)
{
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
    const UniqueFd reading(pair[0]);
    const UniqueFd writing(pair[1]);
    std::vector<std::uint8_t> bytes;
    put_header(bytes, MessageType::Video, kMaxPayloadFromSender);
    bytes.resize(bytes.size() + 1000, 0x5a);
    ASSERT_TRUE(send_all(writing.get(), bytes.data(), bytes.size()));

    MessageReader reader(Direction::ToReceiver);
    Message message;
    std::string error;
    EXPECT_EQ(reader.read(reading.get(), message, error), MessageReader::Status::Pending) << error;
    EXPECT_LE(reader.held(), 2 * MessageReader::kFirstPayloadStep);

    // The rest, in pieces the socket buffer takes; the reader drains between them.
    std::size_t left = kMaxPayloadFromSender - 1000;
    const std::vector<std::uint8_t> piece(std::size_t{1} << 20, 0x5a);
    MessageReader::Status status = MessageReader::Status::Pending;
    for (int round = 0; round < 100000 && status == MessageReader::Status::Pending; ++round) {
        const ssize_t sent =
            left > 0 ? ::send(writing.get(), piece.data(), std::min(left, piece.size()), 0) : 0;
        if (sent > 0) {
            left -= static_cast<std::size_t>(sent);
        }
        status = reader.read(reading.get(), message, error);
    }
    ASSERT_EQ(status, MessageReader::Status::Message) << error;
    EXPECT_EQ(message.payload.size(), kMaxPayloadFromSender);
    EXPECT_EQ(message.payload.front(), 0x5a);
    EXPECT_EQ(message.payload.back(), 0x5a);
}

// Out of memory while a large message arrives ends that message with a reason, not the process.
// Run in a child whose address space is capped a little above what it uses already.
TEST(NdiMessageReader, NoMemoryForAPayloadFailsTheMessage)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' allocators do not run under an address-space limit";
#else
    constexpr int kFailedWithReason = 0;
    constexpr int kLimitNotEnforced = 3;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::size_t pages = 0;
        FILE* statm = std::fopen("/proc/self/statm", "r");
        if (statm == nullptr || std::fscanf(statm, "%zu", &pages) != 1) {
            ::_exit(1);
        }
        std::fclose(statm);
        const std::size_t used = pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        const rlimit cap{used + (std::size_t{24} << 20), used + (std::size_t{24} << 20)};
        if (::setrlimit(RLIMIT_AS, &cap) != 0) {
            ::_exit(1);
        }
        if (void* probe = std::malloc(std::size_t{48} << 20); probe != nullptr) {
            ::_exit(kLimitNotEnforced);  // emulators ignore the limit
        }
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair) != 0) {
            ::_exit(1);
        }
        std::vector<std::uint8_t> bytes;
        put_header(bytes, MessageType::Video, kMaxPayloadFromSender);
        bytes.resize(std::size_t{64} << 10, 0x5a);
        MessageReader reader(Direction::ToReceiver);
        Message message;
        std::string error;
        MessageReader::Status status = MessageReader::Status::Pending;
        for (int round = 0; round < 100000 && status == MessageReader::Status::Pending; ++round) {
            (void)::send(pair[1], bytes.data(), bytes.size(), 0);
            bytes.resize(std::size_t{64} << 10);  // after the first, payload bytes only
            status = reader.read(pair[0], message, error);
        }
        const bool failed = status == MessageReader::Status::Failed &&
                            error == "no memory for a message of 67108864 bytes";
        ::_exit(failed ? kFailedWithReason : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child died of signal " << WTERMSIG(status);
    if (WEXITSTATUS(status) == kLimitNotEnforced) {
        GTEST_SKIP() << "the address-space limit is not enforced here";
    }
    EXPECT_EQ(WEXITSTATUS(status), kFailedWithReason);
#endif
}

}  // namespace
}  // namespace vantor::ndi
