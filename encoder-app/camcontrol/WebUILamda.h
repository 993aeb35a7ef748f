#pragma once

#include <cstdint>
#include <string>

// Value codecs between the texts of the web UI's camera settings files and the numbers the camera
// module uses.
//
// Read functions turn a file text into a value. Keyword codecs return `OrgVal` when the text
// matches no keyword (exact, case-sensitive comparison). Number codecs read a decimal number the
// way strtol does (leading blanks and sign, then leading digits; text without digits reads as 0)
// and apply their offset; a negative result or one beyond 32 bits comes back as a value that fits
// no parameter field (it wraps to a large unsigned value), so the caller's field-width check
// refuses it.
//
// Write functions turn a value back into the file text and return an owned string; "NULL" means
// that the value has no text and nothing is to be written. A value wider than 32 bits (no camera
// value is) has no text.

// The text that write codecs return for a value without a text.
inline constexpr const char* kWebUINoText = "NULL";

// number: decimal text, no offset.
uint32_t WebUINormalGetVal(const char* Val, uint32_t OrgVal);
std::string WebUINormalSetVal(uint64_t value);
// offset 128 (exposure compensation level).
uint32_t WebUI128GetVal(const char* Val, uint32_t OrgVal);
std::string WebUI128SetVal(uint64_t value);
// offset 99 (colour matrix coefficients).
uint32_t WebUIColorMatrixGetVal(const char* Val, uint32_t OrgVal);
std::string WebUIColorMatrixSetVal(uint64_t value);
// offset 7 (detail H/V balance).
uint32_t WebUIDetailHvBalanceGetVal(const char* Val, uint32_t OrgVal);
std::string WebUIDetailHvBalanceSetVal(uint64_t value);
// offset 48 (black level).
uint32_t WebUIBlackLevelGetVal(const char* Val, uint32_t OrgVal);
std::string WebUIBlackLevelSetVal(uint64_t value);

// effect: the number + 3 in bits 24-31 and 0x21 in bits 16-23. Written back as (bits 24-27) - 3,
// so a number whose sum with 3 is outside 0-15 (which could not come back) leaves `OrgVal`.
uint32_t WebUIEffectGetVal(const char* Val, uint32_t OrgVal);
std::string WebUIEffectSetVal(uint64_t value);

// gamma offset: a negative number n is kept as 256 - n (-3 reads as 259); written back the same
// way. A number of 256 or more would come back negative: it reads as a value no field holds.
uint32_t WebUIGammaOffsetGetVal(const char* Val, uint32_t OrgVal);
std::string WebUIGammaOffsetSetVal(uint64_t value);

// Keyword codecs.
uint32_t WebUIOnOffGetVal(const char* Val, uint32_t OrgVal);  // "On" 2, "Off" 3
std::string WebUIOnOffSetVal(uint64_t value);
uint32_t WebUIHighlightCompGetVal(const char* Val, uint32_t OrgVal);  // "On" 16, "Off" 0
std::string WebUIHighlightCompSetVal(uint64_t value);
uint32_t WebUIDetailDetailGetVal(const char* Val, uint32_t OrgVal);  // "On" 0, "Off" 1
std::string WebUIDetailDetailSetVal(uint64_t value);
uint32_t WebUIGammaVisibilityEnhancerGetVal(const char* Val, uint32_t OrgVal);  // "On" 6, "Off" 3
std::string WebUIGammaVisibilityEnhancerSetVal(uint64_t value);
uint32_t WebUIStabilizerR8tGetVal(const char* Val, uint32_t OrgVal);  // "On" 4, "Off" 3
std::string WebUIStabilizerR8tSetVal(uint64_t value);
uint32_t WebUIStabilizerS700GetVal(const char* Val, uint32_t OrgVal);  // "On" 2, "Off" 3
std::string WebUIStabilizerS700SetVal(uint64_t value);
uint32_t WebUIExposureGetVal(const char* Val, uint32_t OrgVal);
std::string WebUIExposureSetVal(uint64_t value);
uint32_t WebUIWbModeGetVal(const char* Val, uint32_t OrgVal);
std::string WebUIWbModeSetVal(uint64_t value);
uint32_t WebUIWBSelGetVal(const char* Val, uint32_t OrgVal);
std::string WebUIWBSelSetVal(uint64_t value);
uint32_t WebUIChromeSuppressGetVal(const char* Val, uint32_t OrgVal);
std::string WebUIChromeSuppressSetVal(uint64_t value);
uint32_t WebUIDetailBandwidthGetVal(const char* Val, uint32_t OrgVal);
std::string WebUIDetailBandwidthSetVal(uint64_t value);
uint32_t WebUIDetailBwBalanceGetVal(const char* Val, uint32_t OrgVal);
std::string WebUIDetailBwBalanceSetVal(uint64_t value);
uint32_t WebUIBlackLevelRangeGetVal(const char* Val, uint32_t OrgVal);
std::string WebUIBlackLevelRangeSetVal(uint64_t value);
uint32_t WebUIGammaSettingsGetVal(const char* Val, uint32_t OrgVal);
std::string WebUIGammaSettingsSetVal(uint64_t value);

// The two settings that the camera takes in one command.
// A part that the split could not give back (a noise reduction above 15, a PatternFine above 9)
// gives a value no parameter field holds.
// 2D and 3D noise reduction: ThreeDNR + 16 x TWODNR.
uint32_t WebUICombineTwoThreeDnr(uint32_t two_dnr, uint32_t three_dnr);
void WebUISplitTwoThreeDnr(uint32_t value, uint32_t& two_dnr, uint32_t& three_dnr);
// Gamma pattern: Pattern x 10 + PatternFine, PatternFine first limited to 2 when Pattern > 50.
uint32_t WebUICombinePattern(uint32_t pattern, uint32_t pattern_fine);
void WebUISplitPattern(uint32_t value, uint32_t& pattern, uint32_t& pattern_fine);

// The opposite sign of `input`: -1 for a positive input, +1 for a negative one, 0 for zero.
int get_float_signp(float input);
