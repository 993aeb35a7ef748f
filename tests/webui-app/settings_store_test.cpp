#include "settings_store.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "settings_catalog.h"
#include "support/temp_board_root.h"

namespace {

using vantor::test::read_text;
using vantor::test::TempBoardRoot;
using vantor::test::write_text;

constexpr const char* kWb = "/etc/vantor-wb-setup.json";

// The white-balance file with these three values; the blank, line ends and "Extra" must survive.
std::string wb_text(const char* mode, const char* red, const char* select)
{
    return std::string("{\n  \"WbMode\":\"") + mode + R"(", "RedGain":")" + red +
           R"(","Extra":"kept","Select":")" + select + "\"}\n";
}

const page_control& control(const char* page, const char* file, const char* key)
{
    const page_control* found = find_control(page, file, key);
    EXPECT_NE(found, nullptr) << key;
    static const page_control none;
    return found != nullptr ? *found : none;
}

// What the page offers comes from the firmware's codecs; the expected lists are the codec tables'.
TEST(WebUiCatalog, OffersExactlyWhatTheCodecsAccept)
{
    EXPECT_EQ(control("camera", kWb, "WbMode").choices,
              (std::vector<std::string>{"AUTO", "INDOOR", "OUTDOOR", "ONEPUSH", "ATW", "MANUAL1",
                                        "OUTDOOR-AUTO", "SLV-AUTO", "SLV", "SLV-OUTDOOR-AUTO"}));
    EXPECT_EQ(control("camera", kWb, "Select").choices,
              (std::vector<std::string>{"STD", "OFF", "HIGH SAT", "FL LIGHT"}));
    EXPECT_EQ(control("camera", "/etc/vantor-exp-setup.json", "ExpMode").choices,
              (std::vector<std::string>{"FULL-AUTO", "MANUAL", "SHUTTER-PRI", "IRIS-PRI", "BRIGHT",
                                        "GAIN-PRI"}));
    const struct {
        const char* file;
        const char* key;
        long min;
        long max;
    } ranges[] = {
        {"/etc/vantor-exp-setup.json", "ExpCompLvl", -128, 127},
        {"/etc/vantor-exp-setup.json", "ShutterMaxSpeed", 0, 65535},
        {kWb, "RedGain", 0, 255},
        {kWb, "BG", -99, 156},
        {kWb, "Level", 0, 15},
        {"/etc/vantor-det-setup.json", "HvBalance", -7, 8},
        {"/etc/vantor-gamma-setup.json", "BlackLevel", -48, 207},
        {"/etc/vantor-gamma-setup.json", "Effect", -3, 12},
        {"/etc/vantor-gamma-setup.json", "Offset", -3839, 255},
        {"/etc/vantor-gamma-setup.json", "PatternFine", 0, 9},
        {"/etc/vantor-pic-setup.json", "TWODNR", 0, 15},
    };
    for (const auto& r : ranges) {
        const page_control& c = control("camera", r.file, r.key);
        EXPECT_EQ(c.kind, control_kind::Number) << r.key;
        EXPECT_EQ(c.min, r.min) << r.key;
        EXPECT_EQ(c.max, r.max) << r.key;
    }
    // The combined-only labels are never offered.
    EXPECT_EQ(find_control("camera", "/etc/vantor-pic-setup.json", "Picture_TWOTHREEDNR"), nullptr);
    EXPECT_EQ(control("video", "/etc/vantor-enc1-settings.json", "VideoFormat").choices.size(),
              19U);
}

TEST(WebUiCatalog, RefusesValuesOutsideTheBinding)
{
    const page_control& red = control("camera", kWb, "RedGain");
    const page_control& mode = control("camera", kWb, "WbMode");
    const page_control& name = control("video", "/etc/vantor-enc1-settings.json", "StreamName");
    const struct {
        const page_control& control;
        std::string value;
        bool accepted;
    } cases[] = {
        {red, "255", true},       {red, "256", false},
        {red, "-1", false},       {red, "07", false},
        {red, "7x", false},       {red, "", false},
        {red, " 7", false},       {mode, "ATW", true},
        {mode, "atw", false},     {mode, "NULL", false},
        {name, "Studio A", true}, {name, "a\"b", false},
        {name, "a\\b", false},    {name, std::string(64, 'x'), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(check_control_value(c.control, c.value).empty(), c.accepted) << c.value;
    }
    EXPECT_EQ(check_control_value(red, "300"),
              "RedGain: \"300\" is not a whole number from 0 to 255");
}

class WebUiSettingsWrite : public ::testing::Test {
protected:
    void SetUp() override
    {
        root.make_dir("/etc");
        write_text(root / kWb, wb_text("AUTO", "128", "STD"));
    }
    std::string file() const { return read_text(root / kWb); }

    TempBoardRoot root;
    const std::string wb = std::string(kWb) + "|";
};

TEST_F(WebUiSettingsWrite, ChangesOnlyItsKeysOrNothing)
{
    const struct {
        const char* what;
        const char* page;
        setting_pairs values;
    } refused[] = {
        {"a bad value among good ones",
         "camera",
         {{wb + "WbMode", "ATW"}, {wb + "RedGain", "999"}}},
        {"a key of no control", "camera", {{wb + "Extra", "x"}}},
        {"a key of another page", "video", {{wb + "WbMode", "ATW"}}},
        {"a file of no control", "camera", {{"/etc/passwd|WbMode", "ATW"}}},
        {"a control whose key the file lacks", "camera", {{wb + "BlueGain", "1"}}},
        {"nothing", "camera", {}},
    };
    for (const auto& c : refused) {
        const settings_write_result result = write_page_values(c.page, c.values);
        EXPECT_FALSE(result.ok) << c.what;
        EXPECT_FALSE(result.message.empty()) << c.what;
        EXPECT_EQ(file(), wb_text("AUTO", "128", "STD")) << c.what;
    }
    const settings_write_result saved =
        write_page_values("camera", {{wb + "WbMode", "SLV-OUTDOOR-AUTO"}, {wb + "RedGain", "7"}});
    EXPECT_TRUE(saved.ok) << saved.message;
    EXPECT_EQ(file(), wb_text("SLV-OUTDOOR-AUTO", "7", "STD"));
}

TEST_F(WebUiSettingsWrite, TwoWritersAtOnceLoseNothing)
{
    constexpr int kRounds = 100;
    std::thread red([&] {
        for (int i = 0; i < kRounds; ++i) {
            EXPECT_TRUE(write_page_values("camera", {{wb + "RedGain", std::to_string(i)}}).ok);
        }
    });
    for (int i = 0; i < kRounds; ++i) {
        const char* select = i % 2 == 0 ? "HIGH SAT" : "FL LIGHT";
        EXPECT_TRUE(write_page_values("camera", {{wb + "Select", select}}).ok);
    }
    red.join();
    EXPECT_EQ(file(), wb_text("AUTO", "99", "FL LIGHT"));
}

}  // namespace
