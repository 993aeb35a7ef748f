// Sender and receiver semantics over real loopback sockets.

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <thread>

#include "codec.h"
#include "ndi_test_util.h"
#include "net.h"
#include "registry.h"
#include "vantor_ndi_test_hook.h"

namespace vantor::test {
namespace {

using SenderSemantics = NdiTest;

TEST_F(SenderSemantics, PicturesReachTheReceiversOfTheirStream)
{
    SenderPtr sender = make_sender("pictures");
    ASSERT_TRUE(sender);
    ReceiverPtr program = make_receiver(sender.get(), NDIlib_recv_bandwidth_highest);
    ReceiverPtr preview = make_receiver(sender.get(), NDIlib_recv_bandwidth_lowest);
    ASSERT_TRUE(wait_for_connections(sender.get(), 2));

    std::vector<std::uint8_t> big = pattern(300000, 1);
    NDIlib_video_frame_v2_t frame = program_frame(big);
    frame.p_metadata = "<frame n=\"1\"/>";
    NDIlib_send_send_video_async_v2(sender.get(), &frame);
    std::vector<std::uint8_t> small = pattern(4000, 9);
    NDIlib_video_frame_v2_t preview_frame(
        640, 360, fourcc(NDIlib_FourCC_type_SHQ0_lowest_bandwidth), 30000, 1001);
    preview_frame.p_data = small.data();
    preview_frame.data_size_in_bytes = static_cast<int>(small.size());
    NDIlib_send_send_video_async_v2(sender.get(), &preview_frame);
    NDIlib_send_send_video_async_v2(sender.get(), nullptr);

    const std::optional<Picture> got = next_picture(program.get());
    ASSERT_TRUE(got);
    EXPECT_EQ(got->xres, 1920);
    EXPECT_EQ(got->yres, 1080);
    EXPECT_EQ(got->fourcc, fourcc(NDIlib_FourCC_type_SHQ2_highest_bandwidth));
    EXPECT_EQ(got->frame_rate_N, 60000);
    EXPECT_EQ(got->frame_rate_D, 1001);
    EXPECT_EQ(got->metadata, "<frame n=\"1\"/>");
    EXPECT_EQ(got->data, pattern(300000, 1));
    const std::optional<Picture> got_preview = next_picture(preview.get());
    ASSERT_TRUE(got_preview);
    EXPECT_EQ(got_preview->fourcc, fourcc(NDIlib_FourCC_type_SHQ0_lowest_bandwidth));
    EXPECT_EQ(got_preview->data, pattern(4000, 9));
    // Each receiver gets only its own stream.
    EXPECT_FALSE(next_picture(program.get(), std::chrono::milliseconds(200)));
    EXPECT_FALSE(next_picture(preview.get(), std::chrono::milliseconds(200)));
}

TEST_F(SenderSemantics, AudioReachesReceiversAndNotMetadataOnlyOnes)
{
    SenderPtr sender = make_sender("audio");
    ReceiverPtr listener = make_receiver(sender.get(), NDIlib_recv_bandwidth_audio_only);
    ReceiverPtr quiet = make_receiver(sender.get(), NDIlib_recv_bandwidth_metadata_only);
    ASSERT_TRUE(wait_for_connections(sender.get(), 2));

    std::vector<float> samples(960);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<float>(i) / 1024.0F - 0.5F;
    }
    NDIlib_audio_frame_interleaved_32f_t block(48000, 2, 480, NDIlib_send_timecode_synthesize,
                                               samples.data());
    NDIlib_util_send_send_audio_interleaved_32f(sender.get(), &block);
    std::vector<std::uint8_t> picture = pattern(100, 0);
    NDIlib_video_frame_v2_t frame = program_frame(picture);
    NDIlib_send_send_video_v2(sender.get(), &frame);

    NDIlib_audio_frame_interleaved_32f_t received;
    ASSERT_EQ(NDIlib_recv_capture_v2(listener.get(), nullptr, &received, nullptr, 20000),
              NDIlib_frame_type_audio);
    EXPECT_EQ(received.sample_rate, 48000);
    EXPECT_EQ(received.no_channels, 2);
    ASSERT_EQ(received.no_samples, 480);
    EXPECT_EQ(std::memcmp(received.p_data, samples.data(), samples.size() * sizeof(float)), 0);
    EXPECT_GT(received.timecode, 0);  // synthesised by the sender
    NDIlib_recv_free_audio_interleaved_32f(listener.get(), &received);

    NDIlib_video_frame_v2_t video;
    EXPECT_EQ(NDIlib_recv_capture_v2(listener.get(), &video, nullptr, nullptr, 200),
              NDIlib_frame_type_none);
    EXPECT_EQ(NDIlib_recv_capture_v2(quiet.get(), &video, &received, nullptr, 200),
              NDIlib_frame_type_none);
}

// The picture is in use until the next video send returns, and no longer: after that the caller
// may overwrite and free it while a slow receiver still has most of it to come.
TEST_F(SenderSemantics, PictureBufferIsFreeOnceTheNextSendReturns)
{
    SenderPtr sender = make_sender("lifetime");
    RawClient slow(address_of(sender.get()), 4096);
    ASSERT_TRUE(slow.send_hello());
    ASSERT_TRUE(wait_for_connections(sender.get(), 1));
    // Connection messages first: the source message, which this test reads through.
    std::uint8_t header[8];
    ASSERT_TRUE(slow.read_exact(header, sizeof header));
    ASSERT_EQ(header[2], 0x10);
    std::vector<std::uint8_t> skip(header[4] | (header[5] << 8));
    ASSERT_TRUE(slow.read_exact(skip.data(), skip.size()));

    // Larger than every socket buffer between the two ends, so most of it is still to go.
    constexpr std::size_t kSize = std::size_t{12} * 1024 * 1024;
    auto* first = new std::uint8_t[kSize];
    for (std::size_t i = 0; i < kSize; ++i) {
        first[i] = static_cast<std::uint8_t>(i * 7);
    }
    NDIlib_video_frame_v2_t frame(3840, 2160, fourcc(NDIlib_FourCC_type_SHQ2_highest_bandwidth), 60,
                                  1);
    frame.p_data = first;
    frame.data_size_in_bytes = static_cast<int>(kSize);
    NDIlib_send_send_video_async_v2(sender.get(), &frame);
    // Started on the connection: most of it is still to go when the next send comes. (The
    // sender's heartbeats fill a quiet second before it; the reader's own keep it connected.)
    ASSERT_TRUE(slow.send_bytes(ndi::encode_heartbeat()));
    std::uint8_t video_header[8] = {};
    do {
        ASSERT_TRUE(slow.read_exact(video_header, sizeof video_header));
    } while (video_header[2] == 0x04 && video_header[4] == 0);
    ASSERT_EQ(video_header[2], 0x11);
    std::vector<std::uint8_t> second = pattern(1000, 3);
    NDIlib_video_frame_v2_t next = program_frame(second);
    NDIlib_send_send_video_async_v2(sender.get(), &next);
    EXPECT_EQ(vantor_ndi_send_get_copies(sender.get()), 1);
    // Ours again: scribble over it and give it back (ASan reports any later read).
    std::memset(first, 0xEE, kSize);
    delete[] first;

    std::uint32_t length = 0;
    for (int i = 3; i >= 0; --i) {
        length = (length << 8) | video_header[4 + i];
    }
    std::vector<std::uint8_t> payload(length);
    ASSERT_TRUE(slow.read_exact(payload.data(), payload.size()));
    ASSERT_GE(payload.size(), kSize);
    const std::uint8_t* data = payload.data() + payload.size() - kSize;
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < kSize; ++i) {
        wrong += data[i] != static_cast<std::uint8_t>(i * 7) ? 1 : 0;
    }
    EXPECT_EQ(wrong, 0U);
    // The second picture is still in use until the sender is told otherwise.
    NDIlib_send_send_video_async_v2(sender.get(), nullptr);
}

TEST_F(SenderSemantics, ConnectionMetadataGoesToEveryReceiverAlsoLateOnes)
{
    SenderPtr sender = make_sender("connection metadata");
    char product[] = "<ndi_product long_name=\"Vantor Labs Camera\"/>";
    char capabilities[] = "<ndi_capabilities ntk_ptz=\"true\"/>";
    NDIlib_metadata_frame_t product_frame(0, NDIlib_send_timecode_synthesize, product);
    NDIlib_metadata_frame_t capabilities_frame(0, NDIlib_send_timecode_synthesize, capabilities);
    NDIlib_send_add_connection_metadata(sender.get(), &product_frame);
    NDIlib_send_add_connection_metadata(sender.get(), &capabilities_frame);
    // The runtime keeps its own copies.
    std::memset(product, 'x', sizeof product - 1);

    ReceiverPtr early = make_receiver(sender.get());
    EXPECT_EQ(next_metadata(early.get()), "<ndi_product long_name=\"Vantor Labs Camera\"/>");
    EXPECT_EQ(next_metadata(early.get()), "<ndi_capabilities ntk_ptz=\"true\"/>");

    ReceiverPtr late = make_receiver(sender.get(), NDIlib_recv_bandwidth_lowest, true);
    EXPECT_EQ(next_metadata(late.get()), "<ndi_product long_name=\"Vantor Labs Camera\"/>");
    EXPECT_EQ(next_metadata(late.get()), "<ndi_capabilities ntk_ptz=\"true\"/>");

    // Added while both are connected: both get it now, and so does a later one.
    char extra[] = "<extra/>";
    NDIlib_metadata_frame_t extra_frame(0, 0, extra);
    NDIlib_send_add_connection_metadata(sender.get(), &extra_frame);
    EXPECT_EQ(next_metadata(early.get()), "<extra/>");
    EXPECT_EQ(next_metadata(late.get()), "<extra/>");
    EXPECT_FALSE(next_metadata(early.get(), std::chrono::milliseconds(100)));

    NDIlib_recv_source_info_t info;
    NDIlib_recv_get_source_info(late.get(), &info);
    EXPECT_TRUE(info.connected);
    EXPECT_STREQ(info.name, "connection metadata");
    EXPECT_EQ(std::string(info.address), address_of(sender.get()));
}

TEST_F(SenderSemantics, TallyIsTheUnionOverConnectedReceivers)
{
    SenderPtr sender = make_sender("tally");
    NDIlib_tally_t tally(true, true);
    // Nothing connected: off, and no change to report after the time-out.
    EXPECT_FALSE(NDIlib_send_get_tally(sender.get(), &tally, 10));
    EXPECT_FALSE(tally.on_program);
    EXPECT_FALSE(tally.on_preview);

    ReceiverPtr first = make_receiver(sender.get());
    ReceiverPtr second = make_receiver(sender.get());
    ASSERT_TRUE(wait_for_connections(sender.get(), 2));
    const NDIlib_tally_t program(true, false);
    const NDIlib_tally_t preview(false, true);
    const NDIlib_tally_t off;
    NDIlib_recv_set_tally(first.get(), &program);
    NDIlib_recv_set_tally(second.get(), &preview);
    const auto tally_is = [&](bool on_program, bool on_preview) {
        return wait_until([&] {
            NDIlib_send_get_tally(sender.get(), &tally, 10);
            return tally.on_program == on_program && tally.on_preview == on_preview;
        });
    };
    EXPECT_TRUE(tally_is(true, true));
    // No further change: false after the wait, the flags still filled in.
    EXPECT_FALSE(NDIlib_send_get_tally(sender.get(), &tally, 10));
    EXPECT_TRUE(tally.on_program);

    NDIlib_recv_set_tally(first.get(), &off);
    EXPECT_TRUE(tally_is(false, true));
    // A change wakes a waiting caller and is reported as one.
    std::thread change([&] { NDIlib_recv_set_tally(first.get(), &program); });
    bool changed = false;
    EXPECT_TRUE(wait_until([&] {
        changed = NDIlib_send_get_tally(sender.get(), &tally, 1000) || changed;
        return tally.on_program;
    }));
    EXPECT_TRUE(changed);
    change.join();

    // A receiver that goes away takes its tally with it.
    second.reset();
    EXPECT_TRUE(tally_is(true, false));
    first.reset();
    EXPECT_TRUE(tally_is(false, false));
}

TEST_F(SenderSemantics, MetadataTravelsBothWays)
{
    SenderPtr sender = make_sender("metadata");
    ReceiverPtr controller = make_receiver(sender.get());
    ReceiverPtr viewer = make_receiver(sender.get(), NDIlib_recv_bandwidth_metadata_only);
    ASSERT_TRUE(wait_for_connections(sender.get(), 2));

    NDIlib_metadata_frame_t nothing;
    EXPECT_EQ(NDIlib_send_capture(sender.get(), &nothing, 20), NDIlib_frame_type_none);

    char command[] = R"(<ntk_ptz_pan_tilt_speed pan_speed="0.5" tilt_speed="-0.25"/>)";
    NDIlib_metadata_frame_t frame(0, NDIlib_send_timecode_synthesize, command);
    ASSERT_TRUE(NDIlib_recv_send_metadata(controller.get(), &frame));
    char inquiry[] = "<ntk_ptz_inq_command/>and more";
    NDIlib_metadata_frame_t sized(22, 0, inquiry);  // only the first 22 bytes
    ASSERT_TRUE(NDIlib_recv_send_metadata(viewer.get(), &sized));
    std::optional<std::string> first = next_captured(sender.get());
    std::optional<std::string> second = next_captured(sender.get());
    ASSERT_TRUE(first && second);
    if (*first != command) {
        std::swap(first, second);
    }
    EXPECT_EQ(*first, command);
    EXPECT_EQ(*second, "<ntk_ptz_inq_command/>");

    char reply[] = "<vtb_ptz_reply_message Sn=\"0\"/>";
    NDIlib_metadata_frame_t reply_frame(0, NDIlib_send_timecode_synthesize, reply);
    NDIlib_send_send_metadata(sender.get(), &reply_frame);
    EXPECT_EQ(next_metadata(controller.get()), reply);
    EXPECT_EQ(next_metadata(viewer.get()), reply);
}

TEST_F(SenderSemantics, FailoverSourceIsUsedWhileTheSenderIsGoneAndLeftWhenItIsBack)
{
    SenderPtr backup = make_sender("backup camera");
    char backup_text[] = "<backup/>";
    NDIlib_metadata_frame_t backup_frame(0, 0, backup_text);
    NDIlib_send_add_connection_metadata(backup.get(), &backup_frame);

    SenderPtr main_sender = make_sender("main camera");
    const NDIlib_source_t failover("backup camera");
    NDIlib_send_set_failover(main_sender.get(), &failover);
    ReceiverPtr receiver = make_receiver(main_sender.get(), NDIlib_recv_bandwidth_highest, true);
    NDIlib_recv_source_info_t info;
    EXPECT_TRUE(wait_until([&] {
        NDIlib_recv_get_source_info(receiver.get(), &info);
        return std::string(info.failover_name) == "backup camera";
    }));
    EXPECT_STREQ(info.name, "main camera");

    // The program restarts: gone (to the backup) and back under the same name.
    main_sender.reset();
    EXPECT_EQ(next_metadata(receiver.get()), "<backup/>");
    NDIlib_recv_get_source_info(receiver.get(), &info);
    EXPECT_STREQ(info.name, "backup camera");
    EXPECT_EQ(NDIlib_send_get_no_connections(backup.get(), 0), 1);

    main_sender = make_sender("main camera");
    char main_text[] = "<main/>";
    NDIlib_metadata_frame_t main_frame(0, 0, main_text);
    NDIlib_send_add_connection_metadata(main_sender.get(), &main_frame);
    EXPECT_EQ(next_metadata(receiver.get()), "<main/>");
    NDIlib_recv_get_source_info(receiver.get(), &info);
    EXPECT_STREQ(info.name, "main camera");
    EXPECT_TRUE(wait_for_connections(backup.get(), 0));
}

TEST_F(SenderSemantics, ReceiverThatEndsTheConnectionItselfTriesTheSameSourceBeforeTheFailover)
{
    SenderPtr backup = make_sender("backup camera");
    std::uint16_t port = 0;
    std::string error;
    const UniqueFd listening = ndi::listen_tcp("127.0.0.1", port, error);
    ASSERT_TRUE(listening) << error;
    const std::string address = "127.0.0.1:" + std::to_string(port);
    const NDIlib_source_t source(nullptr, address.c_str());
    const NDIlib_recv_create_v3_t settings(source, NDIlib_recv_bandwidth_highest, "test receiver");
    ReceiverPtr receiver(NDIlib_recv_create_v3(&settings));
    const auto accept_one = [&] {
        UniqueFd accepted;
        wait_until([&] {
            accepted = UniqueFd(::accept4(listening.get(), nullptr, nullptr, SOCK_CLOEXEC));
            return accepted.valid();
        });
        return accepted;
    };
    const UniqueFd first = accept_one();
    ASSERT_TRUE(first);
    // A sender naming its failover, then a message only a receiver may send: the receiver ends
    // the connection itself.
    std::vector<std::uint8_t> bytes = ndi::encode_source("odd sender", "");
    const std::vector<std::uint8_t> named = ndi::encode_failover("backup camera", "");
    bytes.insert(bytes.end(), named.begin(), named.end());
    ASSERT_TRUE(send_all(first.get(), bytes.data(), bytes.size()));
    NDIlib_recv_source_info_t info;
    ASSERT_TRUE(wait_until([&] {
        NDIlib_recv_get_source_info(receiver.get(), &info);
        return std::string(info.failover_name) == "backup camera";
    }));
    const std::vector<std::uint8_t> wrong = ndi::encode_tally(NDIlib_tally_t(true, false));
    ASSERT_TRUE(send_all(first.get(), wrong.data(), wrong.size()));

    EXPECT_TRUE(accept_one());
    EXPECT_EQ(NDIlib_send_get_no_connections(backup.get(), 0), 0);
}

TEST_F(SenderSemantics, SendersAreFoundByNameAndStaleEntriesAreSkipped)
{
    SenderPtr sender = make_sender("findable");
    // Entries of the same name left behind: by a process that no longer exists, and by one whose
    // pid now belongs to another living process (pid 1 started long before the entry's time).
    write_text(m_registry_dir / "999999999-1.sender",
               "name=findable\naddress=127.0.0.1:1\ngroups=\npid=999999999\nstart=1\n");
    write_text(m_registry_dir / "1-2.sender",
               "name=findable\naddress=127.0.0.1:2\ngroups=\npid=1\nstart=999999999999\n");
    char hostname[256] = {};
    ::gethostname(hostname, sizeof hostname - 1);
    const std::string full_name = std::string(hostname) + " (findable)";
    for (const std::string& name : {std::string("findable"), full_name}) {
        const NDIlib_recv_create_v3_t settings(NDIlib_source_t(name.c_str()));
        ReceiverPtr receiver(NDIlib_recv_create_v3(&settings));
        EXPECT_TRUE(wait_until([&] { return NDIlib_recv_get_no_connections(receiver.get()) == 1; }))
            << name;
        NDIlib_recv_source_info_t info;
        NDIlib_recv_get_source_info(receiver.get(), &info);
        EXPECT_STREQ(info.address, address_of(sender.get()).c_str()) << name;
    }

    // Gone from the registry with the sender.
    const NDIlib_recv_create_v3_t settings(NDIlib_source_t(full_name.c_str()));
    ReceiverPtr receiver(NDIlib_recv_create_v3(&settings));
    ASSERT_TRUE(wait_until([&] { return NDIlib_recv_get_no_connections(receiver.get()) == 1; }));
    sender.reset();
    EXPECT_TRUE(wait_until([&] { return NDIlib_recv_get_no_connections(receiver.get()) == 0; }));
    const NDIlib_recv_create_v3_t nobody_settings;
    EXPECT_EQ(NDIlib_recv_create_v3(&nobody_settings), nullptr);
}

// A registry folder others may write to is not trusted: senders are neither written to it nor
// found in it (said once).
TEST_F(SenderSemantics, RegistryFolderOthersMayWriteIsNotUsed)
{
    StdoutCapture output;
    ASSERT_EQ(::chmod(m_registry_dir.path().c_str(), 0777), 0);
    SenderPtr sender = make_sender("exposed");
    std::string address;
    EXPECT_FALSE(vantor::ndi::find_sender("exposed", address)) << address;
    ASSERT_EQ(::chmod(m_registry_dir.path().c_str(), 0700), 0);
    EXPECT_TRUE(vantor::ndi::registry_senders().empty());
    EXPECT_EQ(output.lines_with("is not a directory of this user's alone").size(), 1U)
        << output.text();
}

TEST_F(SenderSemantics, ConfigurationTextIsToleratedAndAMalformedOneSaidOnce)
{
    StdoutCapture output;
    const char* firmware_text =
        R"({"ndi":{"unicast":{"send":{"enable":true},"recv":{"enable":true}},"networks":{"discovery": "10.1.1.1"},"vendor":{"name":"Vantor","id":"6F0D2C1A-93B4-4E07-A5C8-2D61B7E40F93"}}})";
    SenderPtr good = make_sender("good config", firmware_text);
    ASSERT_TRUE(good);
    SenderPtr bad = make_sender("bad config", R"({"ndi":{"multicast":{"send":{"ttl":NULL}}}})");
    ASSERT_TRUE(bad);
    const std::vector<std::string> lines = output.lines_with("ndi:");
    ASSERT_EQ(lines.size(), 1U) << output.text();
    EXPECT_NE(lines[0].find("sender 'bad config': configuration text is not JSON (value "
                            "expected at offset 35); using the defaults"),
              std::string::npos)
        << lines[0];

    ReceiverPtr receiver = make_receiver(good.get());
    NDIlib_recv_source_info_t info;
    EXPECT_TRUE(wait_until([&] {
        NDIlib_recv_get_source_info(receiver.get(), &info);
        return std::string(info.vendor) == "Vantor";
    }));
}

TEST_F(SenderSemantics, DestroyWithFramesInFlightIsClean)
{
    SenderPtr sender = make_sender("shutdown");
    RawClient stuck(address_of(sender.get()), 4096);
    ASSERT_TRUE(stuck.send_hello());
    ReceiverPtr receiver = make_receiver(sender.get(), NDIlib_recv_bandwidth_all_video);
    ASSERT_TRUE(wait_for_connections(sender.get(), 2));

    constexpr std::size_t kSize = std::size_t{8} * 1024 * 1024;
    auto* picture = new std::uint8_t[kSize];
    std::memset(picture, 0x5A, kSize);
    NDIlib_video_frame_v2_t frame(3840, 2160, fourcc(NDIlib_FourCC_type_SHQ2_highest_bandwidth), 60,
                                  1);
    frame.p_data = picture;
    frame.data_size_in_bytes = static_cast<int>(kSize);
    for (int i = 0; i < 4; ++i) {
        NDIlib_send_send_video_async_v2(sender.get(), &frame);
        char text[] = "<in flight/>";
        NDIlib_metadata_frame_t metadata(0, 0, text);
        NDIlib_send_send_metadata(sender.get(), &metadata);
    }
    // Destroyed while the stuck connection still has pictures queued: the sender must be done with
    // the borrowed picture when this returns.
    sender.reset();
    delete[] picture;

    EXPECT_TRUE(stuck.wait_closed());
    EXPECT_TRUE(wait_until([&] { return NDIlib_recv_get_no_connections(receiver.get()) == 0; }));
}

}  // namespace
}  // namespace vantor::test
