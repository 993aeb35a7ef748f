// The main loop's settings agreement: a change is acted on only once two reads in a row agree.
#include "main/settings_agreement.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace {

// {working, display, sampling 4:2:0}
constexpr video_settings k1080p50{41, 41, 0};
constexpr video_settings k1080p60{43, 43, 0};
constexpr video_settings kTorn{42, 42, 0};  // an empty or cut file reads as 1080p59.94
constexpr video_settings k2160p2997{52, 52, 0};
constexpr video_settings k2160p30{52, 53, 0};
constexpr video_settings k2160p30At420{52, 53, 1};
constexpr std::nullopt_t kNoReading = std::nullopt;  // file or format key missing

struct AgreementCase {
    const char* what;
    video_settings first;                              // read at start-up
    std::vector<std::optional<video_settings>> reads;  // one per loop pass
    std::vector<video_settings> acted;                 // what each pass acts on
};

TEST(SettingsAgreement, ActsOnAChangeOnlyWhenTwoReadsInARowAgree)
{
    const AgreementCase cases[] = {
        {"unchanged", k1080p50, {k1080p50, k1080p50}, {k1080p50, k1080p50}},
        {"one torn read", k1080p50, {kTorn, k1080p50, k1080p50}, {k1080p50, k1080p50, k1080p50}},
        {"a change, taken on its second read",
         k1080p50,
         {k1080p60, k1080p60, k1080p60},
         {k1080p50, k1080p60, k1080p60}},
        {"a change cut by a torn read",
         k1080p50,
         {k1080p60, kTorn, k1080p60, k1080p60},
         {k1080p50, k1080p50, k1080p50, k1080p60}},
        {"a torn read after a change",
         k1080p50,
         {k1080p60, k1080p60, kTorn, k1080p60},
         {k1080p50, k1080p60, k1080p60, k1080p60}},
        {"the display code alone", k2160p2997, {k2160p30, k2160p30}, {k2160p2997, k2160p30}},
        {"the sampling alone",
         k2160p30,
         {k2160p30At420, k2160p30, k2160p30At420, k2160p30At420},
         {k2160p30, k2160p30, k2160p30, k2160p30At420}},
        {"the start-up read as it is, torn or not", kTorn, {k1080p50, k1080p50}, {kTorn, k1080p50}},
        {"two missing reads in a row change nothing",
         k1080p50,
         {kNoReading, kNoReading, k1080p50},
         {k1080p50, k1080p50, k1080p50}},
        {"a change across a missing read",
         k1080p50,
         {k1080p60, kNoReading, k1080p60},
         {k1080p50, k1080p50, k1080p60}},
    };
    for (const AgreementCase& c : cases) {
        ASSERT_EQ(c.reads.size(), c.acted.size()) << c.what;
        settings_agreement agreement(c.first);
        for (std::size_t pass = 0; pass < c.reads.size(); ++pass) {
            const video_settings& acted = agreement.pass(c.reads[pass]);
            EXPECT_EQ(acted.working, c.acted[pass].working) << c.what << ", pass " << pass;
            EXPECT_EQ(acted.display, c.acted[pass].display) << c.what << ", pass " << pass;
            EXPECT_EQ(acted.sr_420_en, c.acted[pass].sr_420_en) << c.what << ", pass " << pass;
        }
    }
}

}  // namespace
