#include "camcontrol/WebUILamda.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// A keyword codec: names[i] is the text of value first + i; nullptr marks a value without a text.
struct KeywordTable {
    uint32_t first;
    const char* const* names;
    std::size_t count;
};

template <std::size_t N>
constexpr KeywordTable keywords(uint32_t first, const char* const (&names)[N])
{
    return KeywordTable{first, names, N};
}

constexpr const char* kOnOff[] = {"On", "Off"};  // 2, 3
constexpr const char* kHighlight[] = {"Off",   nullptr, nullptr, nullptr, nullptr, nullptr,
                                      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                      nullptr, nullptr, nullptr, nullptr, "On"};  // 0, 16
constexpr const char* kDetailOnOff[] = {"On", "Off"};                             // 0, 1
constexpr const char* kVisibility[] = {"Off", nullptr, nullptr, "On"};            // 3, 6
constexpr const char* kStabilizerR8t[] = {"Off", "On"};                           // 3, 4
constexpr const char* kStabilizerS700[] = {"On", "Off"};                          // 2, 3
constexpr const char* kExposure[] = {"FULL-AUTO",   nullptr,    nullptr, "MANUAL", nullptr,
                                     nullptr,       nullptr,    nullptr, nullptr,  nullptr,
                                     "SHUTTER-PRI", "IRIS-PRI", nullptr, "BRIGHT", "GAIN-PRI"};
constexpr const char* kWbMode[] = {"AUTO", "INDOOR",          "OUTDOOR",      "ONEPUSH",
                                   "ATW",  "MANUAL1",         "OUTDOOR-AUTO", "SLV-AUTO",
                                   "SLV",  "SLV-OUTDOOR-AUTO"};
constexpr const char* kMatrixSelect[] = {"STD", "OFF", "HIGH SAT", "FL LIGHT"};  // 2..5
constexpr const char* kChromaSuppress[] = {"OFF", "LOW", "MEDIUM", "HIGH"};
constexpr const char* kDetailBandwidth[] = {"DEFAULT", "LOW", "MIDDLE", "HIGH", "WIDE"};
constexpr const char* kBalanceType[] = {"TYPE1", "TYPE2", "TYPE3", "TYPE4", "TYPE5"};
constexpr const char* kBlackLevelRange[] = {"LOW", "MID", "HIGH"};
constexpr const char* kGammaSettings[] = {"STANDARD", "STRAIGHT", "PATTERN"};

uint32_t keyword_value(const KeywordTable& table, const char* Val, uint32_t OrgVal)
{
    if (Val == nullptr) {
        return OrgVal;
    }
    for (std::size_t i = 0; i < table.count; ++i) {
        if (table.names[i] != nullptr && std::strcmp(table.names[i], Val) == 0) {
            return table.first + static_cast<uint32_t>(i);
        }
    }
    return OrgVal;
}

std::string keyword_text(const KeywordTable& table, uint64_t value)
{
    if (value < table.first || value - table.first >= table.count) {
        return kWebUINoText;
    }
    const char* name = table.names[value - table.first];
    return name != nullptr ? name : kWebUINoText;
}

// A decimal number read as strtol reads it, limited to the 32-bit signed range so that the same
// text gives the same value on the 32-bit camera and on a 64-bit PC.
int64_t decimal(const char* Val)
{
    const long long n = std::strtoll(Val, nullptr, 10);
    constexpr long long lo = std::numeric_limits<int32_t>::min();
    constexpr long long hi = std::numeric_limits<int32_t>::max();
    return n < lo ? lo : (n > hi ? hi : n);
}

// Negative results wrap to large unsigned values, which no parameter field can hold.
uint32_t as_value(int64_t n)
{
    return static_cast<uint32_t>(static_cast<uint64_t>(n));
}

uint32_t offset_value(const char* Val, uint32_t OrgVal, int64_t offset)
{
    return Val == nullptr ? OrgVal : as_value(decimal(Val) + offset);
}

// Camera values are 32-bit; a wider one has no text (and would overflow the subtraction).
std::string offset_text(uint64_t value, int64_t offset)
{
    if (value > std::numeric_limits<uint32_t>::max()) {
        return kWebUINoText;
    }
    return std::to_string(static_cast<int64_t>(value) - offset);
}

uint32_t saturate(uint64_t value)
{
    constexpr uint64_t max = std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(value > max ? max : value);
}

constexpr uint32_t kEffectMarker = 0x21;
constexpr int64_t kEffectOffset = 3;
constexpr int64_t kEffectLevelMax = 0x0F;
constexpr int64_t kGammaOffsetBase = 256;
// A value that no parameter field holds: the field-width check refuses it.
constexpr uint32_t kNoField = std::numeric_limits<uint32_t>::max();
// The largest parts a combined value splits back into.
constexpr uint32_t kDnrPartMax = 0x0F;
constexpr uint32_t kPatternFineMax = 9;

}  // namespace

uint32_t WebUINormalGetVal(const char* Val, uint32_t OrgVal)
{
    return offset_value(Val, OrgVal, 0);
}
std::string WebUINormalSetVal(uint64_t value)
{
    return offset_text(value, 0);
}
uint32_t WebUI128GetVal(const char* Val, uint32_t OrgVal)
{
    return offset_value(Val, OrgVal, 128);
}
std::string WebUI128SetVal(uint64_t value)
{
    return offset_text(value, 128);
}
uint32_t WebUIColorMatrixGetVal(const char* Val, uint32_t OrgVal)
{
    return offset_value(Val, OrgVal, 99);
}
std::string WebUIColorMatrixSetVal(uint64_t value)
{
    return offset_text(value, 99);
}
uint32_t WebUIDetailHvBalanceGetVal(const char* Val, uint32_t OrgVal)
{
    return offset_value(Val, OrgVal, 7);
}
std::string WebUIDetailHvBalanceSetVal(uint64_t value)
{
    return offset_text(value, 7);
}
uint32_t WebUIBlackLevelGetVal(const char* Val, uint32_t OrgVal)
{
    return offset_value(Val, OrgVal, 48);
}
std::string WebUIBlackLevelSetVal(uint64_t value)
{
    return offset_text(value, 48);
}

uint32_t WebUIEffectGetVal(const char* Val, uint32_t OrgVal)
{
    if (Val == nullptr) {
        return OrgVal;
    }
    const int64_t level = decimal(Val) + kEffectOffset;
    if (level < 0 || level > kEffectLevelMax) {
        return OrgVal;  // the write keeps only the level's low nibble: it could not come back
    }
    return (static_cast<uint32_t>(level) << 24) | (kEffectMarker << 16);
}

std::string WebUIEffectSetVal(uint64_t value)
{
    return offset_text((value >> 24) & kEffectLevelMax, kEffectOffset);
}

uint32_t WebUIGammaOffsetGetVal(const char* Val, uint32_t OrgVal)
{
    if (Val == nullptr) {
        return OrgVal;
    }
    const int64_t n = decimal(Val);
    if (n >= kGammaOffsetBase) {
        return kNoField;  // written back as 256 - n: it could not come back
    }
    return as_value(n >= 0 ? n : kGammaOffsetBase - n);
}

std::string WebUIGammaOffsetSetVal(uint64_t value)
{
    const auto v = static_cast<int64_t>(value);
    return std::to_string(v >= kGammaOffsetBase ? kGammaOffsetBase - v : v);
}

#define VANTOR_KEYWORD_CODEC(GetName, SetName, first, names)                                       \
    uint32_t GetName(const char* Val, uint32_t OrgVal)                                             \
    {                                                                                              \
        return keyword_value(keywords(first, names), Val, OrgVal);                                 \
    }                                                                                              \
    std::string SetName(uint64_t value)                                                            \
    {                                                                                              \
        return keyword_text(keywords(first, names), value);                                        \
    }

VANTOR_KEYWORD_CODEC(WebUIOnOffGetVal, WebUIOnOffSetVal, 2, kOnOff)
VANTOR_KEYWORD_CODEC(WebUIHighlightCompGetVal, WebUIHighlightCompSetVal, 0, kHighlight)
VANTOR_KEYWORD_CODEC(WebUIDetailDetailGetVal, WebUIDetailDetailSetVal, 0, kDetailOnOff)
VANTOR_KEYWORD_CODEC(WebUIGammaVisibilityEnhancerGetVal, WebUIGammaVisibilityEnhancerSetVal, 3,
                     kVisibility)
VANTOR_KEYWORD_CODEC(WebUIStabilizerR8tGetVal, WebUIStabilizerR8tSetVal, 3, kStabilizerR8t)
VANTOR_KEYWORD_CODEC(WebUIStabilizerS700GetVal, WebUIStabilizerS700SetVal, 2, kStabilizerS700)
VANTOR_KEYWORD_CODEC(WebUIExposureGetVal, WebUIExposureSetVal, 0, kExposure)
VANTOR_KEYWORD_CODEC(WebUIWbModeGetVal, WebUIWbModeSetVal, 0, kWbMode)
VANTOR_KEYWORD_CODEC(WebUIWBSelGetVal, WebUIWBSelSetVal, 2, kMatrixSelect)
VANTOR_KEYWORD_CODEC(WebUIChromeSuppressGetVal, WebUIChromeSuppressSetVal, 0, kChromaSuppress)
VANTOR_KEYWORD_CODEC(WebUIDetailBandwidthGetVal, WebUIDetailBandwidthSetVal, 0, kDetailBandwidth)
VANTOR_KEYWORD_CODEC(WebUIDetailBwBalanceGetVal, WebUIDetailBwBalanceSetVal, 0, kBalanceType)
VANTOR_KEYWORD_CODEC(WebUIBlackLevelRangeGetVal, WebUIBlackLevelRangeSetVal, 0, kBlackLevelRange)
VANTOR_KEYWORD_CODEC(WebUIGammaSettingsGetVal, WebUIGammaSettingsSetVal, 0, kGammaSettings)

#undef VANTOR_KEYWORD_CODEC

uint32_t WebUICombineTwoThreeDnr(uint32_t two_dnr, uint32_t three_dnr)
{
    if (two_dnr > kDnrPartMax || three_dnr > kDnrPartMax) {
        return kNoField;  // would split back into other parts
    }
    return three_dnr + 16 * two_dnr;
}

void WebUISplitTwoThreeDnr(uint32_t value, uint32_t& two_dnr, uint32_t& three_dnr)
{
    two_dnr = (value >> 4) & kDnrPartMax;
    three_dnr = value & kDnrPartMax;
}

uint32_t WebUICombinePattern(uint32_t pattern, uint32_t pattern_fine)
{
    if (pattern > 50 && pattern_fine > 2) {
        pattern_fine = 2;
    }
    if (pattern_fine > kPatternFineMax) {
        return kNoField;  // would split back into another pattern
    }
    return saturate(uint64_t{pattern} * 10 + pattern_fine);
}

void WebUISplitPattern(uint32_t value, uint32_t& pattern, uint32_t& pattern_fine)
{
    pattern = value / 10;
    pattern_fine = value % 10;
}

int get_float_signp(float input)
{
    if (input > 0.0F) {
        return -1;
    }
    return input < 0.0F ? 1 : 0;
}
