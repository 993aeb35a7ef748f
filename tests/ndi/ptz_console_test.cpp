// ndi-monitor --ptz against a sender started by this test: keys typed on its standard input become
// PTZ metadata at the sender, in order; a status reply of the sender is printed; q ends it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ndi_test_util.h"
#include "support/temp_board_root.h"
#include "vantor/file_io.h"
#include "vantor/unique_fd.h"

namespace vantor::test {
namespace {

// Its own registry folder, as every NDI test has.
using PtzConsole = NdiTest;

TEST_F(PtzConsole, KeysBecomeMetadataAndStatusRepliesArePrinted)
{
    SenderPtr sender = make_sender("PTZ-CONSOLE");
    ASSERT_TRUE(sender);
    TempDir dir;
    const std::string keys_path = dir.path() + "/keys";
    ASSERT_EQ(::mkfifo(keys_path.c_str(), 0600), 0);
    const std::string command = std::string(VANTOR_BIN_DIR) + "/ndi-monitor --seconds 60 --ptz " +
                                address_of(sender.get()) + " < " + keys_path + " 2>&1";
    // --seconds bounds the monitor's life should this test die before it sends q.
    std::FILE* output = ::popen(command.c_str(), "r");
    ASSERT_NE(output, nullptr);
    const vantor::UniqueFd keys(::open(keys_path.c_str(), O_WRONLY | O_CLOEXEC));
    ASSERT_TRUE(keys);

    ASSERT_TRUE(vantor::write_all(keys.get(), "\x1b[Ax+s35 \x1b[D\x1b[Ci"));
    const std::vector<std::string> expected = {
        R"(<ntk_ptz_pan_tilt_speed pan_speed="0" tilt_speed="0.5"/>)",
        R"(<ntk_ptz_zoom_speed zoom_speed="0.5"/>)",
        R"(<ntk_ptz_store_preset index="3"/>)",
        R"(<ntk_ptz_recall_preset index="5"/>)",
        R"(<ntk_ptz_pan_tilt_speed pan_speed="0" tilt_speed="0"/>)",
        R"(<ntk_ptz_zoom_speed zoom_speed="0"/>)",
        // left arrow: moving left is a positive pan speed; right arrow: negative
        R"(<ntk_ptz_pan_tilt_speed pan_speed="0.5" tilt_speed="0"/>)",
        R"(<ntk_ptz_pan_tilt_speed pan_speed="-0.5" tilt_speed="0"/>)",
        "<ntk_ptz_inq_command/>",
    };
    std::vector<std::string> captured;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto text = next_captured(sender.get());
        ASSERT_TRUE(text.has_value()) << "after " << captured.size();
        captured.push_back(*text);
    }
    EXPECT_EQ(captured, expected);

    std::string reply = R"(<vtb_ptz_reply_message Sn="7" CamVer="1809"/>)";
    NDIlib_metadata_frame_t frame(0, NDIlib_send_timecode_synthesize, reply.data());
    NDIlib_send_send_metadata(sender.get(), &frame);
    std::string printed;
    char line[512];
    while (std::fgets(line, sizeof line, output) != nullptr) {
        printed += line;
        if (printed.find("metadata: " + reply) != std::string::npos) {
            break;
        }
    }
    EXPECT_NE(printed.find("metadata: " + reply), std::string::npos) << printed;
    ASSERT_TRUE(vantor::write_all(keys.get(), "q"));
    // Quitting stops the camera first.
    for (const char* stop : {R"(<ntk_ptz_pan_tilt_speed pan_speed="0" tilt_speed="0"/>)",
                             R"(<ntk_ptz_zoom_speed zoom_speed="0"/>)"}) {
        const auto text = next_captured(sender.get());
        ASSERT_TRUE(text.has_value());
        EXPECT_EQ(*text, stop);
    }
    while (std::fgets(line, sizeof line, output) != nullptr) {
    }
    const int status = ::pclose(output);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace vantor::test
