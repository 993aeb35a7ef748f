// The web page against the firmware's side of its two channels: the dashboard pipe that
// encoder-app writes (with its own writer) and the VISCA-over-IP datagrams a PTZ press sends.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <vector>

#include "dashboard_feed.h"
#include "main/WebUIStatus.h"
#include "ptz_driver.h"
#include "support/temp_board_root.h"
#include "support/wait_until.h"
#include "vantor/bind_address.h"
#include "vantor/unique_fd.h"

namespace {

using vantor::test::read_text;
using vantor::test::ScopedEnv;
using vantor::test::TempBoardRoot;
using vantor::test::wait_until;
using vantor::test::write_text;

TEST(WebUiDashboard, ReadsWhatEncoderAppWritesIntoItsPipe)
{
    TempBoardRoot root;
    root.make_dir("/tmp");
    // encoder-app started first and left a plain file: its object is taken, then the pipe made.
    write_text(root / kDashboardPipe, R"({"dashboard_vid_input":"CAMERA-INITIALISING"})");
    DashboardFeed feed;
    ASSERT_TRUE(feed.start());
    struct stat st {};
    ASSERT_EQ(::stat((root / kDashboardPipe).c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    uint64_t first = 0;
    EXPECT_EQ(feed.status(first), "CAMERA-INITIALISING");

    for (const char* text : {"CAMERA-SETTING-FORMAT", "2160p30-420", "1080p59.94-422"}) {
        ASSERT_TRUE(write_webui_status(text));
        EXPECT_TRUE(wait_until([&] {
            uint64_t sequence = 0;
            return feed.status(sequence) == text;
        })) << text;
    }
    uint64_t last = 0;
    (void)feed.status(last);
    EXPECT_EQ(last, first + 3);
    EXPECT_FALSE(feed.wait_newer(last, std::chrono::milliseconds(10)));
    // A writer that raced the start and put a plain file in the FIFO's place: its object is
    // taken and the FIFO comes back.
    write_text(root / kDashboardPipe, R"({"dashboard_vid_input":"720p50-422"})");
    EXPECT_TRUE(wait_until([&] {
        uint64_t sequence = 0;
        struct stat now {};
        return feed.status(sequence) == "720p50-422" &&
               ::stat((root / kDashboardPipe).c_str(), &now) == 0 && S_ISFIFO(now.st_mode);
    }));
    ASSERT_TRUE(write_webui_status("1080p59.94-422"));
    EXPECT_TRUE(wait_until([&] {
        uint64_t sequence = 0;
        return feed.status(sequence) == "1080p59.94-422";
    }));
    (void)feed.status(last);
    // A malformed object changes nothing.
    feed.take(R"({"other":"x"})");
    EXPECT_EQ(feed.status(last), "1080p59.94-422");
    feed.stop();
}

TEST(WebUiPtz, PressMovesReleaseStopsSilenceStops)
{
    // A loopback address of its own, so the test never meets a camera's service on 127.0.0.1.
    const ScopedEnv bind(vantor::kBindAddressVariable, "127.0.0.3");
    TempBoardRoot root;
    root.make_dir("/etc");
    root.make_dir("/tmp");
    write_text(root / "/etc/vantor-ptz-settings.json",
               R"({"PanSpeed":"20","TiltSpeed":"9","ZoomSpeed":"5"})");
    const vantor::UniqueFd camera(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kViscaOverIpPort);
    address.sin_addr.s_addr = htonl(0x7F000003);
    if (::bind(camera.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        GTEST_SKIP() << "127.0.0.3:52381 is taken";
    }
    timeval timeout{5, 0};
    ::setsockopt(camera.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    const auto next_message = [&] {
        uint8_t datagram[64];
        const ssize_t n = ::recv(camera.get(), datagram, sizeof datagram, 0);
        return n > 8 ? std::vector<uint8_t>(datagram + 8, datagram + n) : std::vector<uint8_t>{};
    };

    PtzDriver ptz;
    ASSERT_TRUE(ptz.drive({-1, 1, 0, 0}));
    EXPECT_EQ(next_message(),
              (std::vector<uint8_t>{0x81, 0x01, 0x06, 0x01, 20, 9, 0x01, 0x01, 0xFF}));
    ASSERT_TRUE(ptz.drive({0, 0, 0, 0}));
    EXPECT_EQ(next_message(),
              (std::vector<uint8_t>{0x81, 0x01, 0x06, 0x01, 20, 9, 0x03, 0x03, 0xFF}));
    ASSERT_TRUE(ptz.drive({0, 0, 1, 0}));
    EXPECT_EQ(next_message(), (std::vector<uint8_t>{0x81, 0x01, 0x04, 0x07, 0x25, 0xFF}));
    // No refresh: the page is gone, the zoom stops by itself.
    const auto pressed = std::chrono::steady_clock::now();
    EXPECT_EQ(next_message(), (std::vector<uint8_t>{0x81, 0x01, 0x04, 0x07, 0x00, 0xFF}));
    EXPECT_GE(std::chrono::steady_clock::now() - pressed,
              PtzDriver::kHoldTimeout - std::chrono::milliseconds(100));

    EXPECT_TRUE(PtzDriver::preset_request(true, 3));
    EXPECT_EQ(read_text(root / "/tmp/vantor-save-preset"), "Preset-3");
    EXPECT_TRUE(PtzDriver::preset_request(false, 9));
    EXPECT_EQ(read_text(root / "/tmp/vantor-reset-preset"), "Preset-9");
    EXPECT_FALSE(PtzDriver::preset_request(true, 0));
    EXPECT_FALSE(PtzDriver::preset_request(true, 10));
}

}  // namespace
