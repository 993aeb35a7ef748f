// The audio/video settings of the main loop: the format table, sampling and gains.
#include "main/av_settings.h"

#include <gtest/gtest.h>

#include <sys/inotify.h>

#include <limits>
#include <string>

#include "support/inotify_count.h"
#include "support/temp_board_root.h"
#include "vantor/unique_fd.h"

namespace {

using vantor::test::TempBoardRoot;
using vantor::test::write_text;

struct FormatCase {
    const char* text;
    int working;
    int display;
};

TEST(VideoFormatTable, EverySettingsText)
{
    const FormatCase cases[] = {
        {"1080p23.97", 1, 1},
        {"1080p24", 2, 2},
        {"1080p25", 3, 3},
        {"1080p29.97", 4, 4},
        {"1080p30", 5, 5},
        {"720p50", 6, 6},
        {"720p59.94", 7, 7},
        {"720p60", 8, 8},
        {"1080i50", 0x13, 0x13},
        {"1080i59.94", 0x14, 0x14},
        {"1080i60", 0x15, 0x15},
        {"1080p50", 0x29, 0x29},
        {"1080p59.94", 0x2A, 0x2A},
        {"1080p60", 0x2B, 0x2B},
        {"2160p23.97", 0x31, 0x31},
        {"2160p24", 0x32, 0x32},
        {"2160p25", 0x33, 0x33},
        {"2160p29.97", 0x34, 0x34},
        // Produced as 2160p29.97, shown as 2160p30.
        {"2160p30", 0x34, 0x35},
    };
    for (const FormatCase& c : cases) {
        const video_format_codes codes = video_format_from_text(c.text);
        EXPECT_EQ(codes.working, c.working) << c.text;
        EXPECT_EQ(codes.display, c.display) << c.text;
    }
}

TEST(VideoFormatTable, AnyOtherTextIs1080p5994)
{
    for (const char* text : {"NULL", "", "1080P60", "1080p60 ", " 1080p60", "2160p50", "2160p60",
                             "4K", "1080p23.976"}) {
        const video_format_codes codes = video_format_from_text(text);
        EXPECT_EQ(codes.working, 42) << '"' << text << '"';
        EXPECT_EQ(codes.display, 42) << '"' << text << '"';
    }
}

TEST(ScaledGain, ReadsLeadingDigitsAndTruncates)
{
    EXPECT_EQ(scaled_gain("50", 1.2, false), 60);
    EXPECT_EQ(scaled_gain("33", 1.2, false), 39);  // 39.6
    EXPECT_EQ(scaled_gain("100", 1.2, false), 120);
    EXPECT_EQ(scaled_gain("NULL", 1.2, false), 0);
    EXPECT_EQ(scaled_gain("12abc", 1.2, false), 14);  // 14.4
    EXPECT_EQ(scaled_gain("30", 1.28, true), 89);     // 89.6
    EXPECT_EQ(scaled_gain("NULL", 1.28, true), 128);
    EXPECT_EQ(scaled_gain("100", 1.28, true), 0);
    EXPECT_EQ(scaled_gain("-5", 1.2, false), -6);
}

TEST(ScaledGain, OutOfRangeValuesAreClampedNotOverflowed)
{
    EXPECT_EQ(scaled_gain("99999999999999999999", 1.2, false), std::numeric_limits<int>::max());
    EXPECT_EQ(scaled_gain("99999999999999999999", 1.28, true), std::numeric_limits<int>::min());
    EXPECT_EQ(scaled_gain("-99999999999999999999", 1.28, true), std::numeric_limits<int>::max());
    EXPECT_EQ(scaled_gain("2000000000", 1.2, false), std::numeric_limits<int>::max());
}

TEST(Encoder420, OnlyFor2160LineFormats)
{
    for (int fmt : {49, 50, 51, 52, 53}) {
        EXPECT_EQ(encoder_420_for_format(fmt, 1), 1) << fmt;
        EXPECT_EQ(encoder_420_for_format(fmt, 0), 0) << fmt;
    }
    for (int fmt : {0, 1, 5, 6, 8, 19, 21, 41, 42, 43, 48, 54, 57, 59, 255}) {
        EXPECT_EQ(encoder_420_for_format(fmt, 1), 0) << fmt;
    }
}

class ReadAvSettings : public ::testing::Test {
protected:
    void SetUp() override { board.make_dir("/etc"); }
    void read()
    {
        settings = av_settings{};
        settings.sr_420_en = 7;  // shows whether the field is written
        display = -1;
        complete = read_av_settings(settings, display);
    }

    TempBoardRoot board;
    av_settings settings;
    int display = -1;
    bool complete = false;
};

TEST_F(ReadAvSettings, MissingFilesGiveTheDefaults)
{
    read();
    EXPECT_FALSE(complete);
    EXPECT_EQ(settings.videoin, 42);
    EXPECT_EQ(display, 42);
    EXPECT_EQ(settings.sr_420_en, 0);
    EXPECT_EQ(settings.ajingain, 0);
    EXPECT_EQ(settings.ajoutgain, 128);
}

TEST_F(ReadAvSettings, FormatSamplingAndGainsFromTheFiles)
{
    write_text(board / kEncoderSettingsFile,
               R"({"VideoFormat":"2160p30","VideoSampleRate":"420","StreamName":"CAM"})");
    write_text(board / kAudioSettingsFile,
               R"({"AnalogAudioInGain":"75","AnalogAudioOutGain":"25"})");
    read();
    EXPECT_EQ(settings.videoin, 52);
    EXPECT_EQ(display, 53);
    EXPECT_EQ(settings.sr_420_en, 1);
    EXPECT_EQ(settings.ajingain, 90);
    EXPECT_EQ(settings.ajoutgain, 96);

    write_text(board / kEncoderSettingsFile,
               R"({"VideoFormat":"1080i50","VideoSampleRate":"422"})");
    read();
    EXPECT_EQ(settings.videoin, 0x13);
    EXPECT_EQ(display, 0x13);
    EXPECT_EQ(settings.sr_420_en, 0);

    // Only the exact text "420" selects 4:2:0.
    write_text(board / kEncoderSettingsFile,
               R"({"VideoFormat":"1080p60","VideoSampleRate":"4200"})");
    read();
    EXPECT_EQ(settings.videoin, 0x2B);
    EXPECT_EQ(settings.sr_420_en, 0);
    EXPECT_TRUE(complete);

    // Cut short by a rewrite before the format key: no reading.
    write_text(board / kEncoderSettingsFile, R"({"StreamName":"CA)");
    read();
    EXPECT_FALSE(complete);
}

// Format and sampling come from one version of the file: a rewrite between two reads could
// otherwise pair the new format with the old sampling, or a cut text with either.
TEST_F(ReadAvSettings, OpensTheEncoderSettingsFileOncePerRead)
{
    write_text(board / kEncoderSettingsFile,
               R"({"VideoFormat":"2160p25","VideoSampleRate":"420"})");
    vantor::UniqueFd watch(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    ASSERT_TRUE(watch);
    // Closes are watched too: the kernel merges an event into an identical one just before it.
    ASSERT_GE(::inotify_add_watch(watch.get(), (board / kEncoderSettingsFile).c_str(),
                                  IN_OPEN | IN_CLOSE_NOWRITE),
              0);

    read();
    EXPECT_EQ(settings.videoin, 0x33);
    EXPECT_EQ(settings.sr_420_en, 1);

    EXPECT_EQ(vantor::test::count_inotify_events(watch.get(), IN_OPEN), 1);
}

}  // namespace
