#include "camera_model.h"

namespace camsim {

namespace {

Setting nibbles(const char* name, Bytes prefix, int pad, int count, uint32_t initial)
{
    return Setting{name, std::move(prefix), pad, false, count, initial, initial, false};
}

Setting bytes(const char* name, Bytes prefix, int pad, int count, uint32_t initial)
{
    return Setting{name, std::move(prefix), pad, true, count, initial, initial, false};
}

// An on/off setting that the value byte 10 toggles.
Setting toggling(const char* name, Bytes prefix, uint32_t initial)
{
    Setting s = nibbles(name, std::move(prefix), 0, 1, initial);
    s.toggles = true;
    return s;
}

}  // namespace

// Register settings of the camera module: every value the firmware sets, reads with a
// single-value inquiry or finds in a block inquiry. On/Off values use 2 = on, 3 = off.
std::vector<Setting> camera_settings()
{
    return {
        // exposure
        nibbles("ExpMode", {0x04, 0x39}, 0, 1, 0x00), nibbles("ExpCompEn", {0x04, 0x3E}, 0, 1, 3),
        nibbles("ExpCompLvl", {0x04, 0x4E}, 2, 2, 0x80), bytes("AeResponse", {0x04, 0x5D}, 0, 1, 1),
        nibbles("SlowShutterEn", {0x04, 0x5A}, 0, 1, 3),
        nibbles("SlowShutterLimit", {0x04, 0x24, 0x59}, 0, 2, 0x10),
        nibbles("ShutterSpeed", {0x04, 0x4A}, 2, 2, 0x10),
        bytes("ShutterMaxSpeed", {0x05, 0x2A, 0x00}, 0, 2, 0x15),
        bytes("ShutterMinSpeed", {0x05, 0x2A, 0x01}, 0, 2, 0x06),
        nibbles("GainLevel", {0x04, 0x4C}, 2, 2, 0x01),
        bytes("GainLimit", {0x04, 0x2C}, 0, 1, 0x0F), nibbles("GainPoint", {0x05, 0x0C}, 0, 1, 3),
        bytes("GainPointPosition", {0x05, 0x4C}, 1, 1, 0x10),
        nibbles("IrisLevel", {0x04, 0x4B}, 2, 2, 0x0C),
        nibbles("BrightLevel", {0x04, 0x4D}, 2, 2, 0x10),
        nibbles("HighSensitivity", {0x04, 0x5E}, 0, 1, 3),
        nibbles("Spotlight", {0x04, 0x59}, 0, 1, 3), nibbles("BackLight", {0x04, 0x33}, 0, 1, 3),
        // white balance
        nibbles("WbMode", {0x04, 0x35}, 0, 1, 0), nibbles("RedGain", {0x04, 0x43}, 2, 2, 0x80),
        nibbles("BlueGain", {0x04, 0x44}, 2, 2, 0x80), nibbles("BG", {0x7E, 0x01, 0x7F}, 0, 2, 99),
        nibbles("BR", {0x7E, 0x01, 0x7E}, 0, 2, 99), nibbles("GB", {0x7E, 0x01, 0x7D}, 0, 2, 99),
        nibbles("GR", {0x7E, 0x01, 0x7C}, 0, 2, 99), nibbles("RB", {0x7E, 0x01, 0x7B}, 0, 2, 99),
        nibbles("RG", {0x7E, 0x01, 0x7A}, 0, 2, 99), nibbles("WbLevel", {0x04, 0x49}, 3, 1, 7),
        nibbles("Matrix", {0x7E, 0x01, 0x3D}, 0, 1, 2),  // 3 off; 2, 4, 5 select a matrix
        nibbles("WbOffset", {0x7E, 0x01, 0x2E, 0x01}, 0, 1, 7),
        nibbles("Phase", {0x04, 0x4F}, 3, 1, 7), bytes("WbSpeed", {0x04, 0x56}, 0, 1, 3),
        // picture
        nibbles("ChromeSuppress", {0x04, 0x5F}, 0, 1, 0), nibbles("Flip", {0x04, 0x66}, 0, 1, 3),
        nibbles("HighlightComp", {0x04, 0x14}, 0, 2, 0),
        nibbles("NDFilter", {0x7E, 0x01, 0x53}, 0, 1, 0),
        nibbles("IRCutFilter", {0x04, 0x01}, 0, 1, 3), nibbles("Mirror", {0x04, 0x61}, 0, 1, 3),
        nibbles("Stabilizer", {0x04, 0x34}, 0, 1, 3),
        nibbles("TWOTHREEDNR", {0x05, 0x53}, 0, 2, 0x33),
        // detail
        nibbles("Detail", {0x05, 0x42, 0x01}, 0, 1, 0),
        nibbles("Bandwidth", {0x05, 0x42, 0x02}, 0, 1, 0),
        nibbles("Crispening", {0x05, 0x42, 0x03}, 0, 1, 0),
        nibbles("HvBalance", {0x05, 0x42, 0x04}, 0, 1, 7),
        nibbles("BwBalance", {0x05, 0x42, 0x05}, 0, 1, 0),
        nibbles("Limit", {0x05, 0x42, 0x06}, 0, 1, 0),
        nibbles("HighLightDetail", {0x05, 0x42, 0x07}, 0, 1, 0),
        bytes("SuperLow", {0x05, 0x42, 0x08}, 0, 1, 0),
        nibbles("DetailLevel", {0x04, 0x42}, 3, 1, 7),
        // gamma
        nibbles("BlackGammaLevel", {0x7E, 0x01, 0x72}, 0, 2, 7),
        nibbles("BlackLevel", {0x7E, 0x04, 0x45}, 0, 2, 48),
        nibbles("BlackLevelRange", {0x05, 0x5C}, 0, 1, 0),
        nibbles("Effect", {0x04, 0x2D}, 0, 8, 0x03210000),
        nibbles("GammaLevel", {0x7E, 0x01, 0x71}, 0, 2, 7),
        nibbles("GammaOffset", {0x04, 0x1E}, 3, 3, 0),
        nibbles("GammaSettings", {0x04, 0x5B}, 0, 1, 0),
        nibbles("PatternREG", {0x05, 0x5B}, 0, 3, 10),
        nibbles("VisibilityEnhancer", {0x04, 0x3D}, 0, 1, 3),
        // camera status
        nibbles("Power", {0x04, 0x00}, 0, 1, 2), toggling("Mute", {0x04, 0x75}, 3),
        nibbles("Freeze", {0x04, 0x62}, 0, 1, 3),
        nibbles("FocusMode", {0x04, 0x38}, 0, 1, 2),  // 2 auto, 3 manual
    };
}

}  // namespace camsim
