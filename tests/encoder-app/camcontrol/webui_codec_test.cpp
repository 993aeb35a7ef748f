#include "camcontrol/WebUILamda.h"

#include <gtest/gtest.h>

#include "camcontrol/webui_bindings.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace {

using GetFn = uint32_t (*)(const char*, uint32_t);
using SetFn = std::string (*)(uint64_t);

struct KeywordCodec {
    const char* name;
    GetFn get;
    SetFn set;
    std::map<std::string, uint32_t> pairs;  // every keyword with its value
};

const std::vector<KeywordCodec>& keyword_codecs()
{
    static const std::vector<KeywordCodec> codecs = {
        {"OnOff", WebUIOnOffGetVal, WebUIOnOffSetVal, {{"On", 2}, {"Off", 3}}},
        {"Highlight", WebUIHighlightCompGetVal, WebUIHighlightCompSetVal, {{"On", 16}, {"Off", 0}}},
        {"DetailDetail", WebUIDetailDetailGetVal, WebUIDetailDetailSetVal, {{"On", 0}, {"Off", 1}}},
        {"Visibility",
         WebUIGammaVisibilityEnhancerGetVal,
         WebUIGammaVisibilityEnhancerSetVal,
         {{"On", 6}, {"Off", 3}}},
        {"StabilizerR8t",
         WebUIStabilizerR8tGetVal,
         WebUIStabilizerR8tSetVal,
         {{"On", 4}, {"Off", 3}}},
        {"StabilizerS700",
         WebUIStabilizerS700GetVal,
         WebUIStabilizerS700SetVal,
         {{"On", 2}, {"Off", 3}}},
        {"Exposure",
         WebUIExposureGetVal,
         WebUIExposureSetVal,
         {{"FULL-AUTO", 0},
          {"MANUAL", 3},
          {"SHUTTER-PRI", 10},
          {"IRIS-PRI", 11},
          {"BRIGHT", 13},
          {"GAIN-PRI", 14}}},
        {"WbMode",
         WebUIWbModeGetVal,
         WebUIWbModeSetVal,
         {{"AUTO", 0},
          {"INDOOR", 1},
          {"OUTDOOR", 2},
          {"ONEPUSH", 3},
          {"ATW", 4},
          {"MANUAL1", 5},
          {"OUTDOOR-AUTO", 6},
          {"SLV-AUTO", 7},
          {"SLV", 8},
          {"SLV-OUTDOOR-AUTO", 9}}},
        {"MatrixSelect",
         WebUIWBSelGetVal,
         WebUIWBSelSetVal,
         {{"STD", 2}, {"OFF", 3}, {"HIGH SAT", 4}, {"FL LIGHT", 5}}},
        {"ChromaSuppress",
         WebUIChromeSuppressGetVal,
         WebUIChromeSuppressSetVal,
         {{"OFF", 0}, {"LOW", 1}, {"MEDIUM", 2}, {"HIGH", 3}}},
        {"DetailBandwidth",
         WebUIDetailBandwidthGetVal,
         WebUIDetailBandwidthSetVal,
         {{"DEFAULT", 0}, {"LOW", 1}, {"MIDDLE", 2}, {"HIGH", 3}, {"WIDE", 4}}},
        {"BalanceType",
         WebUIDetailBwBalanceGetVal,
         WebUIDetailBwBalanceSetVal,
         {{"TYPE1", 0}, {"TYPE2", 1}, {"TYPE3", 2}, {"TYPE4", 3}, {"TYPE5", 4}}},
        {"BlackLevelRange",
         WebUIBlackLevelRangeGetVal,
         WebUIBlackLevelRangeSetVal,
         {{"LOW", 0}, {"MID", 1}, {"HIGH", 2}}},
        {"GammaSettings",
         WebUIGammaSettingsGetVal,
         WebUIGammaSettingsSetVal,
         {{"STANDARD", 0}, {"STRAIGHT", 1}, {"PATTERN", 2}}},
    };
    return codecs;
}

constexpr uint32_t kUnchanged = 13579;

TEST(WebUIKeywordCodecs, EveryKeywordReadsAsItsValueAndEveryValueWritesItsKeyword)
{
    for (const KeywordCodec& codec : keyword_codecs()) {
        for (const auto& [text, value] : codec.pairs) {
            EXPECT_EQ(codec.get(text.c_str(), kUnchanged), value) << codec.name << " " << text;
            EXPECT_EQ(codec.set(value), text) << codec.name << " " << value;
        }
        // Every other value has no text, including those between and beyond the listed ones.
        for (uint64_t value = 0; value < 300; ++value) {
            bool listed = false;
            for (const auto& pair : codec.pairs) {
                listed = listed || pair.second == value;
            }
            if (!listed) {
                EXPECT_EQ(codec.set(value), "NULL") << codec.name << " " << value;
            }
        }
        EXPECT_EQ(codec.set(uint64_t{1} << 40), "NULL") << codec.name;
    }
}

TEST(WebUIKeywordCodecs, UnknownTextLeavesTheValueUnchanged)
{
    for (const KeywordCodec& codec : keyword_codecs()) {
        for (const char* text : {"", "NULL", "on", "auto", "STD ", " OFF", "2", "TYPE6"}) {
            EXPECT_EQ(codec.get(text, kUnchanged), kUnchanged) << codec.name << " '" << text << "'";
        }
        EXPECT_EQ(codec.get(nullptr, kUnchanged), kUnchanged) << codec.name;
    }
}

TEST(WebUIKeywordCodecs, StabilizerDependsOnTheModel)
{
    EXPECT_EQ(WebUIStabilizerR8tGetVal("On", 0), 4U);
    EXPECT_EQ(WebUIStabilizerS700GetVal("On", 0), 2U);
    EXPECT_EQ(WebUIStabilizerR8tSetVal(2), "NULL");
    EXPECT_EQ(WebUIStabilizerS700SetVal(4), "NULL");
}

struct NumberCase {
    const char* name;
    GetFn get;
    SetFn set;
    const char* text;
    uint32_t value;
    const char* written;  // what the value writes back
};

TEST(WebUINumberCodecs, ReadAndWriteWithTheirOffsets)
{
    const NumberCase cases[] = {
        {"number", WebUINormalGetVal, WebUINormalSetVal, "12", 12, "12"},
        {"number", WebUINormalGetVal, WebUINormalSetVal, "7abc", 7, "7"},
        {"number", WebUINormalGetVal, WebUINormalSetVal, "abc", 0, "0"},
        {"number", WebUINormalGetVal, WebUINormalSetVal, "NULL", 0, "0"},
        {"offset128", WebUI128GetVal, WebUI128SetVal, "-3", 125, "-3"},
        {"offset128", WebUI128GetVal, WebUI128SetVal, "7", 135, "7"},
        {"matrix", WebUIColorMatrixGetVal, WebUIColorMatrixSetVal, "-99", 0, "-99"},
        {"matrix", WebUIColorMatrixGetVal, WebUIColorMatrixSetVal, "20", 119, "20"},
        {"hvbalance", WebUIDetailHvBalanceGetVal, WebUIDetailHvBalanceSetVal, "-7", 0, "-7"},
        {"blacklevel", WebUIBlackLevelGetVal, WebUIBlackLevelSetVal, "-48", 0, "-48"},
        {"blacklevel", WebUIBlackLevelGetVal, WebUIBlackLevelSetVal, "10", 58, "10"},
        {"gammaoffset", WebUIGammaOffsetGetVal, WebUIGammaOffsetSetVal, "-3", 259, "-3"},
        {"gammaoffset", WebUIGammaOffsetGetVal, WebUIGammaOffsetSetVal, "5", 5, "5"},
        {"gammaoffset", WebUIGammaOffsetGetVal, WebUIGammaOffsetSetVal, "0", 0, "0"},
        {"effect", WebUIEffectGetVal, WebUIEffectSetVal, "2", 0x05210000, "2"},
        {"effect", WebUIEffectGetVal, WebUIEffectSetVal, "-3", 0x00210000, "-3"},
    };
    for (const NumberCase& c : cases) {
        EXPECT_EQ(c.get(c.text, kUnchanged), c.value) << c.name << " '" << c.text << "'";
        EXPECT_EQ(c.set(c.value), c.written) << c.name << " " << c.value;
    }
}

TEST(WebUINumberCodecs, NegativeOrHugeNumbersGiveValuesNoParameterFieldHolds)
{
    // Such values are refused by the field-width check before anything is sent: they must not
    // wrap around to small, plausible values.
    EXPECT_GT(WebUINormalGetVal("-1", 0), 0xFFFFU);
    EXPECT_GT(WebUINormalGetVal("99999999999999999999999", 0), 0xFFFFU);
    EXPECT_GT(WebUINormalGetVal("-99999999999999999999999", 0), 0xFFFFU);
    EXPECT_GT(WebUI128GetVal("-129", 0), 0xFFFFU);
    EXPECT_GT(WebUI128GetVal("2147483647", 0), 0xFFFFU);
    EXPECT_GT(WebUIGammaOffsetGetVal("-2147483648", 0), 0xFFFFU);
    EXPECT_EQ(WebUINormalGetVal(nullptr, kUnchanged), kUnchanged);
}

// Camera values are 32-bit: the widest still writes its number, a wider value has no text (no
// offset arithmetic may overflow on it).
TEST(WebUINumberCodecs, ValuesWiderThan32BitsHaveNoText)
{
    const struct {
        SetFn set;
        int64_t offset;
    } codecs[] = {{WebUINormalSetVal, 0},
                  {WebUI128SetVal, 128},
                  {WebUIColorMatrixSetVal, 99},
                  {WebUIDetailHvBalanceSetVal, 7},
                  {WebUIBlackLevelSetVal, 48}};
    for (const auto& codec : codecs) {
        EXPECT_EQ(codec.set(0xFFFFFFFFU), std::to_string(int64_t{0xFFFFFFFF} - codec.offset));
        for (const uint64_t wide : {uint64_t{1} << 32U, UINT64_MAX, uint64_t{INT64_MAX} + 9}) {
            EXPECT_EQ(codec.set(wide), "NULL") << codec.offset << " " << wide;
        }
    }
}

// A number that a binding's read codec accepts, and that its command can carry, is what the
// binding's write codec gives back.
TEST(WebUINumberCodecs, EveryAcceptedNumberWritesBackAsItself)
{
    constexpr uint32_t kNone = 0xFFFFFFFFU;  // no read codec returns it for a value it accepts
    for (const webui_binding& row : webui_bindings()) {
        if (row.read == nullptr || row.width == 0) {
            continue;
        }
        for (int n = -5000; n <= 5000; ++n) {
            const std::string text = std::to_string(n);
            const uint32_t value = row.read(text.c_str(), kNone);
            if (value != kNone && webui_value_fits(value, row.width, row.byte_mode)) {
                ASSERT_EQ(row.write(value), text) << row.key;
            }
        }
    }
}

TEST(WebUINumberCodecs, EffectBeyondWhatTheWriteKeepsLeavesThePreviousValue)
{
    EXPECT_EQ(WebUIEffectGetVal("12", kUnchanged), 0x0F210000U);
    EXPECT_EQ(WebUIEffectGetVal("13", kUnchanged), kUnchanged);
    EXPECT_EQ(WebUIEffectGetVal("-4", kUnchanged), kUnchanged);
    // Only bits 24-27 are written back.
    EXPECT_EQ(WebUIEffectSetVal(0xF5210000U), "2");
}

TEST(WebUICombinedCodecs, NoiseReductionAndGammaPattern)
{
    EXPECT_EQ(WebUICombineTwoThreeDnr(3, 5), 0x35U);
    uint32_t two = 0;
    uint32_t three = 0;
    WebUISplitTwoThreeDnr(0x35, two, three);
    EXPECT_EQ(two, 3U);
    EXPECT_EQ(three, 5U);

    EXPECT_EQ(WebUICombinePattern(51, 7), 512U);  // fine limited to 2 above pattern 50
    EXPECT_EQ(WebUICombinePattern(50, 7), 507U);
    EXPECT_EQ(WebUICombinePattern(51, 1), 511U);
    uint32_t pattern = 0;
    uint32_t fine = 0;
    WebUISplitPattern(512, pattern, fine);
    EXPECT_EQ(pattern, 51U);
    EXPECT_EQ(fine, 2U);

    // Parts the split could not give back, and values read from a file as negative numbers,
    // combine into values no parameter field holds.
    EXPECT_EQ(WebUICombineTwoThreeDnr(1, 20), 0xFFFFFFFFU);
    EXPECT_EQ(WebUICombineTwoThreeDnr(16, 0), 0xFFFFFFFFU);
    EXPECT_EQ(WebUICombinePattern(5, 12), 0xFFFFFFFFU);
    EXPECT_EQ(WebUICombinePattern(0xFFFFFFFFU, 0), 0xFFFFFFFFU);
    EXPECT_EQ(WebUICombineTwoThreeDnr(0xFFFFFFFFU, 1), 0xFFFFFFFFU);
}

TEST(WebUICodecs, OppositeSignOfASpeed)
{
    EXPECT_EQ(get_float_signp(0.5F), -1);
    EXPECT_EQ(get_float_signp(-0.01F), 1);
    EXPECT_EQ(get_float_signp(0.0F), 0);
    EXPECT_EQ(get_float_signp(-0.0F), 0);
}

}  // namespace
