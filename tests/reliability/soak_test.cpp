// The whole virtual camera under random control traffic from the studio side for a while: PTZ
// metadata and tally from short-lived NDI receivers, VISCA over IP, web-UI settings edits and a
// video-format change now and then, with a well-behaved receiver on the program stream all along.
// Memory, threads and descriptors of both programs are sampled at intervals and must stay flat
// after the warm-up; every command is answered and no picture is lost.
//
// VANTOR_SOAK_SECONDS sets the duration (default 60), VANTOR_SOAK_INTERVAL the sampling interval
// (default 10 s, 60 s from 10 minutes on); scripts/soak runs it for an hour.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "camera_board.h"

namespace {

using namespace std::chrono_literals;
using vantor::test::ProcessSample;

// Bounds on growth after the warm-up (the first interval). Memory: allocator caches and the NDI
// queues settle within a few MiB; a leak of one allocation per command or picture passes that
// within minutes. Under AddressSanitizer freed memory waits in its quarantine (256 MiB) before it
// is reused, so RSS climbs by up to that much without a leak: there the bound only catches a
// runaway, and leaks are LeakSanitizer's, whose report at exit fails the clean stop. Threads and
// descriptors are sampled between two actions, when only the well-behaved receiver is connected.
constexpr int64_t kRssGrowthKib = int64_t{4} * 1024;
constexpr int64_t kRssGrowthKibSanitized = int64_t{320} * 1024;
constexpr int kThreadGrowth = 2;
constexpr int kFdGrowth = 2;
constexpr double kMinFps = 40.0;
// Seconds a format change may cost the receiver: the encoder stops, the camera module switches
// (one second on the simulator) and encoding starts again.
constexpr int kSecondsPerFormatChange = 4;

const std::string kMonitor = std::string(VANTOR_BIN_DIR) + "/ndi-monitor";
const std::vector<std::string> kFormats = {"1080p59.94", "720p59.94"};

// VISCA-over-IP requests (visca-ip names or hex words), each answered with a completion or reply.
const std::vector<std::vector<std::string>> kViscaRequests = {
    {"zoom-stop"},
    {"zoom-pos?"},
    {"pt-pos?"},
    {"block?"},
    {"81", "01", "06", "01", "05", "05", "03", "03", "FF"},  // pan/tilt stop
    {"81", "01", "04", "07", "23", "FF"},                    // zoom in, speed 3
    {"81", "01", "04", "39", "0A", "FF"},                    // exposure: manual
    {"81", "01", "04", "39", "00", "FF"},                    // exposure: full auto
};

const std::vector<std::string> kPtzMetadata = {
    R"(<ntk_ptz_pan_tilt_speed pan_speed="0.2" tilt_speed="-0.1"/>)",
    R"(<ntk_ptz_pan_tilt_speed pan_speed="0" tilt_speed="0"/>)",
    R"(<ntk_ptz_zoom_speed zoom_speed="0.3"/>)",
    R"(<ntk_ptz_zoom_speed zoom_speed="0"/>)",
    R"(<ntk_ptz_zoom zoom="0.4"/>)",
    R"(<ntk_ptz_recall_preset index="2" speed="1"/>)",
};
const std::vector<std::string> kTally = {"program", "preview", "both", "off"};

// Web-UI edits: file, key, values to pick from.
struct SettingEdit {
    const char* file;
    const char* key;
    std::vector<const char*> values;
};
const std::vector<SettingEdit> kSettingEdits = {
    {"vantor-wb-setup.json", "RedGain", {"100", "128", "150"}},
    {"vantor-exp-setup.json", "BrightLevel", {"0", "5", "10"}},
    {"vantor-pic-setup.json", "TWODNR", {"0", "3", "5"}},
    {"vantor-ptz-settings.json", "ZoomSpeed", {"3", "7"}},
};

int env_seconds(const char* name, int fallback)
{
    const char* text = std::getenv(name);
    const int value = text != nullptr ? std::atoi(text) : 0;
    return value > 0 ? value : fallback;
}

// Under a sanitizer, or with encoder-app under valgrind (VANTOR_SOAK_INSTRUMENTED, set by
// scripts/soak --valgrind: memcheck's own shadow memory and translations grow as more code runs).
bool sanitized()
{
    return std::getenv("ASAN_OPTIONS") != nullptr || std::getenv("TSAN_OPTIONS") != nullptr ||
           std::getenv("VANTOR_SOAK_INSTRUMENTED") != nullptr;
}

struct Sample {
    int seconds = 0;
    ProcessSample encoder;
    ProcessSample platform;
};

void print_sample(const Sample& sample)
{
    std::printf(
        "soak %5d s: encoder-app rss %lld KiB threads %d fds %d | platform-app rss %lld KiB "
        "threads %d fds %d\n",
        sample.seconds, static_cast<long long>(sample.encoder.rss_kib), sample.encoder.threads,
        sample.encoder.fds, static_cast<long long>(sample.platform.rss_kib),
        sample.platform.threads, sample.platform.fds);
    std::fflush(stdout);
}

// Growth of every sample after the warm-up over the warm-up sample stays within the bounds.
void expect_flat(const std::vector<Sample>& samples, const char* name,
                 ProcessSample Sample::*process)
{
    ASSERT_GE(samples.size(), 2U) << "too short a soak to see a trend";
    const ProcessSample& warm = samples.front().*process;
    const int64_t rss_bound = sanitized() ? kRssGrowthKibSanitized : kRssGrowthKib;
    for (const Sample& sample : samples) {
        const ProcessSample& now = sample.*process;
        ASSERT_TRUE(now.alive) << name << " ended by " << sample.seconds << " s";
        EXPECT_LE(now.rss_kib - warm.rss_kib, rss_bound)
            << name << " at " << sample.seconds << " s";
        EXPECT_LE(now.threads - warm.threads, kThreadGrowth) << name << " at " << sample.seconds;
        EXPECT_LE(now.fds - warm.fds, kFdGrowth) << name << " at " << sample.seconds << " s";
    }
}

class SoakTest : public vantor::test::CameraBoardTest {
protected:
    SoakTest() { m_format = kFormats.front(); }
};

TEST_F(SoakTest, WholeCameraUnderRandomControlTrafficStaysFlatAndAnswersEverything)
{
    const int duration = env_seconds("VANTOR_SOAK_SECONDS", 60);
    const int interval = env_seconds("VANTOR_SOAK_INTERVAL", duration >= 600 ? 60 : 10);
    const int format_every = std::max(30, duration / 12);
    std::printf("soak: %d s, a sample every %d s, a format change every %d s; growth bounds after "
                "the first sample: rss %lld KiB, threads %d, fds %d\n",
                duration, interval, format_every,
                static_cast<long long>(sanitized() ? kRssGrowthKibSanitized : kRssGrowthKib),
                kThreadGrowth, kFdGrowth);

    auto receiver = start_program_receiver(duration + 10);
    ASSERT_TRUE(wait_receiver_connected(*receiver)) << receiver->output();
    const uint32_t seed = std::random_device{}();
    std::printf("soak: seed %u\n", seed);
    std::mt19937 random(seed);
    const auto pick = [&random](size_t count) {
        return std::uniform_int_distribution<size_t>(0, count - 1)(random);
    };

    std::vector<Sample> samples;
    int visca = 0;
    int ptz = 0;
    int edits = 0;
    int format_changes = 0;
    size_t format = 0;
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&start] {
        return static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(
                                    std::chrono::steady_clock::now() - start)
                                    .count());
    };
    while (elapsed() < duration && board_running()) {
        if (elapsed() >= static_cast<int>(samples.size() + 1) * interval) {
            samples.push_back({elapsed(), vantor::test::sample_process(encoder_pid()),
                               vantor::test::sample_process(platform_pid())});
            print_sample(samples.back());
        }
        if (elapsed() >= (format_changes + 1) * format_every) {
            format = (format + 1) % kFormats.size();
            ASSERT_TRUE(vantor::test::set_setting(etc("vantor-enc1-settings.json"), "VideoFormat",
                                                  kFormats[format]));
            ++format_changes;
        }
        switch (pick(3)) {
        case 0: {
            std::string output;
            EXPECT_TRUE(visca_all_answered(kViscaRequests[pick(kViscaRequests.size())], 3, &output))
                << output;
            ++visca;
            break;
        }
        case 1: {
            // A controller that connects, sends one PTZ command or the status inquiry, sets its
            // tally and goes; the inquiry is answered with the camera's status.
            const bool inquiry = pick(4) == 0;
            const std::string text =
                inquiry ? "<ntk_ptz_inq_command/>" : kPtzMetadata[pick(kPtzMetadata.size())];
            const auto result =
                studio_command({kMonitor, "--streams", "none", "--metadata", text, "--tally",
                                kTally[pick(kTally.size())], "--seconds", "2", "--connect-timeout",
                                "30", camera_address() + ":" + std::to_string(ndi_port())},
                               60s);
            EXPECT_EQ(result.status, 0) << result.output;
            if (inquiry) {
                EXPECT_NE(result.output.find("metadata: <vtb_ptz_reply_message"), std::string::npos)
                    << result.output;
            }
            ++ptz;
            break;
        }
        default: {
            const SettingEdit& edit = kSettingEdits[pick(kSettingEdits.size())];
            EXPECT_TRUE(vantor::test::set_setting(etc(edit.file), edit.key,
                                                  edit.values[pick(edit.values.size())]));
            ++edits;
            break;
        }
        }
    }
    std::printf("soak: %d VISCA-over-IP exchanges, %d PTZ controllers, %d settings edits, %d "
                "format changes\n",
                visca, ptz, edits, format_changes);
    ASSERT_TRUE(board_running()) << m_script->output();
    expect_flat(samples, "encoder-app", &Sample::encoder);
    expect_flat(samples, "platform-app", &Sample::platform);

    expect_receiver_lost_nothing(*receiver, duration + 10, kMinFps,
                                 format_changes * kSecondsPerFormatChange);
    expect_clean_stop();
}

}  // namespace
