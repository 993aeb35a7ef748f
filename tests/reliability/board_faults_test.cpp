// Faults of the camera module and the encoder device while the whole camera runs, injected by
// the simulators' commands; a well-behaved receiver watches the program stream throughout.

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "camera_board.h"
#include "support/wait_until.h"

namespace {

using namespace std::chrono_literals;

constexpr double kMinFps = 40.0;  // 720p59.94, loose for the sanitizer builds

class BoardFaults : public vantor::test::CameraBoardTest {
protected:
    std::string camera(const std::string& command) const
    {
        return sim_command("BOARD_CAMERA_SIM_CONTROL", command);
    }
};

// The camera module taken off its line: VISCA over IP gets no completion while it is gone, the
// stream goes on, and once it is back (as just switched on) commands are answered again.
TEST_F(BoardFaults, CameraUnpluggedAndBackStopsOnlyItsOwnAnswers)
{
    const int receiver_seconds = 25;
    auto receiver = start_program_receiver(receiver_seconds);
    ASSERT_TRUE(wait_receiver_connected(*receiver)) << receiver->output();
    ASSERT_TRUE(visca_all_answered({"zoom-stop"}, 3));

    EXPECT_EQ(camera("unplug"), "ok\n");
    EXPECT_NE(camera("state").find("plugged=0"), std::string::npos);
    std::string output;
    EXPECT_FALSE(visca_all_answered({"zoom-stop"}, 2, &output)) << output;

    EXPECT_EQ(camera("set zoom 9000"), "ok\n");
    EXPECT_EQ(camera("plug"), "ok\n");
    EXPECT_NE(camera("state").find("\nzoom=0\n"), std::string::npos) << "not as just switched on";
    EXPECT_TRUE(wait_visca_answered(60s));
    EXPECT_TRUE(visca_all_answered({"zoom-stop"}, 5, &output)) << output;

    expect_receiver_lost_nothing(*receiver, receiver_seconds, kMinFps);
    expect_clean_stop();
}

// Bad frames from the encoder device (a repeated or impossible buffer index, corrupt picture
// headers) are dropped or restart encoding; the stream to the receiver goes on and the program
// keeps running.
TEST_F(BoardFaults, EncoderFaultsCostOnlyTheBadFrames)
{
    struct Fault {
        const char* command;
        const char* reply;
    };
    const std::vector<Fault> faults = {
        {"repeat 3", "ok repeat 3"},
        {"index 0 3", "ok index 0 3"},
        {"index -1 2", "ok index -1 2"},
        {"corrupt program 3", "ok corrupt program 3"},
        {"corrupt preview 3", "ok corrupt preview 3"},
        {"index 6 1", "ok index 6 1"},  // restarts encoding
    };
    const int receiver_seconds = 25;
    auto receiver = start_program_receiver(receiver_seconds);
    ASSERT_TRUE(wait_receiver_connected(*receiver)) << receiver->output();
    for (const Fault& fault : faults) {
        EXPECT_EQ(sim_command("BOARD_SPEEDHQ_SIM_CONTROL", fault.command),
                  std::string(fault.reply) + "\n");
        // Each has met its frames before the next one is set.
        EXPECT_TRUE(wait_more_program_seconds(*receiver, 2)) << fault.command;
    }
    // Dropped frames and one restart of encoding cost a few pictures, not seconds.
    expect_receiver_lost_nothing(*receiver, receiver_seconds, kMinFps, 1);
    const std::string log = encoder_log();
    EXPECT_NE(log.find("NOVALID FRAME"), std::string::npos) << log;
    EXPECT_NE(log.find("SAME FRAME"), std::string::npos) << log;
    expect_clean_stop();
}

// The headset input stops delivering and resumes: the audio on the main sender pauses and comes
// back, while the program pictures go on throughout.
TEST_F(BoardFaults, AudioSourceStoppedAndResumedPausesOnlyTheAudio)
{
    const int receiver_seconds = 30;
    ASSERT_TRUE(
        vantor::test::set_setting(etc("vantor-enc1-settings.json"), "NDIAudio", "NDIAudioAnalog"));
    auto receiver = start_program_receiver(receiver_seconds);
    const auto audio_seconds = [&receiver] {
        return vantor::test::audio_seconds(receiver->output());
    };
    ASSERT_TRUE(vantor::test::wait_until([&] { return audio_seconds() >= 2; }, 60s))
        << receiver->output();

    EXPECT_EQ(sim_command("BOARD_AUDIO_SIM_CONTROL", "stop"), "ok stopped\n");
    // A second may still have had blocks in it; after that, none while pictures go on.
    ASSERT_TRUE(wait_more_program_seconds(*receiver, 2));
    const size_t stopped = audio_seconds();
    ASSERT_TRUE(wait_more_program_seconds(*receiver, 4));
    EXPECT_EQ(audio_seconds(), stopped) << receiver->output();

    EXPECT_EQ(sim_command("BOARD_AUDIO_SIM_CONTROL", "resume"), "ok delivering\n");
    EXPECT_TRUE(vantor::test::wait_until([&] { return audio_seconds() >= stopped + 2; }, 30s))
        << receiver->output();
    expect_receiver_lost_nothing(*receiver, receiver_seconds, kMinFps);
    expect_clean_stop();
}

// Settings files the web UI left as named pipes or removed: every reader takes them as missing
// (the defaults, or the last values) without waiting on a pipe no one writes, so the stream,
// VISCA over IP and the shutdown go on as before.
TEST_F(BoardFaults, SettingsFilesMissingOrNamedPipesStallNothing)
{
    const int receiver_seconds = 20;
    auto receiver = start_program_receiver(receiver_seconds);
    ASSERT_TRUE(wait_receiver_connected(*receiver)) << receiver->output();
    for (const char* name : {"vantor-audio-settings.json", "vantor-wb-setup.json"}) {
        ASSERT_EQ(::unlink(etc(name).c_str()), 0);
        ASSERT_EQ(::mkfifo(etc(name).c_str(), 0644), 0);
    }
    for (const char* name : {"vantor-exp-setup.json", "vantor-ptz-settings.json"}) {
        ASSERT_EQ(::unlink(etc(name).c_str()), 0);
    }
    ASSERT_TRUE(wait_more_program_seconds(*receiver, 5)) << receiver->output();
    std::string output;
    EXPECT_TRUE(visca_all_answered({"zoom-stop"}, 5, &output)) << output;
    EXPECT_TRUE(visca_all_answered({"block?"}, 2, &output)) << output;

    expect_receiver_lost_nothing(*receiver, receiver_seconds, kMinFps);
    // Nothing waits on the pipes at the end either.
    expect_clean_stop();
}

}  // namespace
