#pragma once

#include <string>
#include <vector>

namespace vantor::test {

// PTZ speed limits the cases assume (the PTZ settings file's PanSpeed, TiltSpeed, ZoomSpeed).
inline constexpr int kCasePanSpeed = 20;
inline constexpr int kCaseTiltSpeed = 16;
inline constexpr int kCaseZoomSpeed = 7;

// The PTZ settings file ("/etc/vantor-ptz-settings.json") with those limits.
inline std::string ptz_settings_json()
{
    return R"({"PanSpeed":")" + std::to_string(kCasePanSpeed) + R"(","TiltSpeed":")" +
           std::to_string(kCaseTiltSpeed) + R"(","ZoomSpeed":")" + std::to_string(kCaseZoomSpeed) +
           R"("})";
}

// One NDI PTZ metadata text and the VISCA packets it makes the engine send, in the engine's
// fixed order. The cases run in this order on one camera control (the focus step carries over).
struct PtzCase {
    const char* xml;
    std::vector<std::string> packets;
};

inline const std::vector<PtzCase>& ptz_cases()
{
    static const std::vector<PtzCase> cases = {
        // zoom as the NDI SDK has it, 0 tele .. 1 wide: 0.5 is 1 + 29 x 0.5 = 15.5x, halfway
        // between 15x (14858) and 16x (15069); 0.25 is 22.75x, 3/4 of 22x (15929) .. 23x (16016)
        {R"(<ntk_ptz_zoom zoom="0.5"/>)", {"81 01 04 47 03 0A 07 04 FF"}},
        {R"(<ntk_ptz_zoom zoom="0.25"/>)", {"81 01 04 47 03 0E 07 0A FF"}},
        {R"(<ntk_ptz_zoom zoom="0"/>)", {"81 01 04 47 04 00 00 00 FF"}},
        {R"(<ntk_ptz_zoom zoom="7"/>)", {"81 01 04 47 00 00 00 00 FF"}},
        {R"(<ntk_ptz_zoom/>)", {"81 01 04 47 00 00 00 00 FF"}},
        {R"(<ntk_ptz_zoom zoom="nan"/>)", {"81 01 04 47 00 00 00 00 FF"}},
        {R"(<ntk_ptz_zoom_speed zoom_speed="-0.5"/>)", {"81 01 04 07 33 FF"}},
        {R"(<ntk_ptz_zoom_speed zoom_speed="inf"/>)", {"81 01 04 07 27 FF"}},
        {R"(<NTK_PTZ_ZOOM_SPEED Zoom_Speed="1"/>)", {"81 01 04 07 00 FF"}},
        {R"(<ntk_ptz_zoom_speed zoom_speed="nan"/>)", {"81 01 04 07 00 FF"}},
        // a drive whose speed is no number stops rather than running on
        {R"(<ntk_ptz_zoom_speed zoom_speed="abc"/>)", {"81 01 04 07 00 FF"}},
        {R"(<ntk_ptz_pan_tilt_speed pan_speed="0.5" tilt_speed="fast"/>)",
         {"81 01 06 01 05 05 03 03 FF"}},
        {R"(<ntk_ptz_pan_tilt_speed pan_speed="nan" tilt_speed="-1"/>)",
         {"81 01 06 01 05 05 03 03 FF"}},
        // pan/tilt drive: speed 0 is never sent, a limit is never passed
        {R"(<ntk_ptz_pan_tilt_speed pan_speed="-2"/>)", {"81 01 06 01 14 01 02 03 FF"}},
        {R"(<ntk_ptz_pan_tilt_speed pan_speed="0.5" tilt_speed="-0.25"/>)",
         {"81 01 06 01 0A 04 01 02 FF"}},
        {R"(<ntk_ptz_pan_tilt_speed pan_speed="0.001" tilt_speed="1e300"/>)",
         {"81 01 06 01 01 10 01 01 FF"}},
        {R"(<ntk_ptz_pan_tilt_speed/>)", {"81 01 06 01 05 05 03 03 FF"}},
        {R"(<ntk_ptz_pan_tilt pan="1" tilt="-1"/>)",
         {"81 01 06 02 14 10 00 09 00 00 0F 0F 00 00 FF"}},
        {R"(<ntk_ptz_pan_tilt_home_reset home="" reset=""/>)",
         {"81 01 06 04 FF", "81 01 06 05 FF"}},
        {R"(<ntk_ptz_pan_tilt pan="-0.5" tilt="0.6"/>)",
         {"81 01 06 02 14 10 0F 0B 00 00 00 03 00 00 FF"}},
        {R"(<ntk_ptz_pan_tilt_home_reset home=""/>)", {"81 01 06 04 FF"}},
        // presets 0..127 only, also for numbers a 32-bit long cannot hold
        {R"(<ntk_ptz_store_preset index="127"/>)", {"81 01 04 3F 01 7F FF"}},
        {R"(<ntk_ptz_store_preset index="128"/>)", {}},
        {R"(<ntk_ptz_store_preset index="-1"/>)", {}},
        {R"(<ntk_ptz_store_preset index="4294967297"/>)", {}},
        // integers are decimal digits only: not read as preset 0 or 1
        {R"(<ntk_ptz_store_preset index="0x10"/>)", {}},
        {R"(<ntk_ptz_recall_preset index="1e2"/>)", {}},
        {R"(<ntk_ptz_recall_preset index="inf"/>)", {}},
        {R"(<ntk_ptz_reset_preset index="nan"/>)", {}},
        {R"(<ntk_ptz_white_balance_gain red="1e2"/>)", {}},
        {R"(<ntk_ptz_recall_preset index=" +5 "/>)", {"81 01 04 3F 02 05 FF"}},
        {R"(<ntk_ptz_store_preset/>)", {"81 01 04 3F 01 00 FF"}},
        {R"(<ntk_ptz_reset_preset index="3"/>)", {"81 01 04 3F 00 03 FF"}},
        {R"(<ntk_ptz_recall_preset index="127" speed="9"/>)", {"81 01 04 3F 02 7F FF"}},
        {R"(<ntk_ptz_flip enabled="true"/>)", {}},
        // focus speed as the NDI SDK has it: +1 in (near 3p), -1 out (far 2p), 0 stop; it drives on
        {R"(<ntk_ptz_focus_speed focus_speed="1"/>)", {"81 01 04 08 37 FF"}},
        {R"(<ntk_ptz_focus_speed focus_speed="-0.5"/>)", {"81 01 04 08 23 FF"}},
        {R"(<ntk_ptz_focus_speed focus_speed="0"/>)", {"81 01 04 08 00 FF"}},
        {R"(<ntk_ptz_focus_speed focus_speed="fast"/>)", {"81 01 04 08 00 FF"}},
        // focus distance as the NDI SDK has it, 0 infinity .. 1 closest: steps -7..+7, the nudge
        // (near towards 1) grows with the move, held to speed 7; the same step again moves nothing
        {R"(<ntk_ptz_focus mode="manual" distance="1"/>)",
         {"81 01 04 38 03 FF", "81 01 04 08 37 FF", "81 01 04 08 00 FF"}},
        {R"(<ntk_ptz_focus mode="MANUAL" distance="0.6"/>)",
         {"81 01 04 38 03 FF", "81 01 04 08 26 FF", "81 01 04 08 00 FF"}},
        {R"(<ntk_ptz_focus mode="manual" distance="0.62"/>)", {"81 01 04 38 03 FF"}},
        {R"(<ntk_ptz_focus mode="manual" distance="0.62"/>)", {"81 01 04 38 03 FF"}},
        {R"(<ntk_ptz_focus mode="manual"/>)",
         {"81 01 04 38 03 FF", "81 01 04 08 21 FF", "81 01 04 08 00 FF"}},
        {R"(<ntk_ptz_focus mode="manual" distance="nan"/>)", {"81 01 04 38 03 FF"}},
        {R"(<ntk_ptz_focus distance="1"/>)", {"81 01 04 38 02 FF"}},
        {R"(<ntk_ptz_focus_move direction="one_push"/>)", {"81 01 04 18 01 FF"}},
        {R"(<ntk_ptz_focus_move direction="near" speed="3"/>)",
         {"81 01 04 08 33 FF", "81 01 04 08 00 FF"}},
        {R"(<ntk_ptz_focus_move speed="12"/>)", {"81 01 04 08 27 FF", "81 01 04 08 00 FF"}},
        {R"(<ntk_ptz_focus_move direction="stop"/>)", {"81 01 04 08 00 FF"}},
        // white balance
        {R"(<ntk_ptz_white_balance mode="manual" red="1"/>)",
         {"81 01 04 35 05 FF", "81 01 04 43 00 00 0F 0F FF"}},
        {R"(<ntk_ptz_white_balance mode="manual" red="-3" blue="0.5"/>)",
         {"81 01 04 35 05 FF", "81 01 04 43 00 00 00 00 FF", "81 01 04 44 00 00 07 0F FF"}},
        {R"(<ntk_ptz_white_balance mode="one_push"/>)", {"81 01 04 35 03 FF", "81 01 04 10 05 FF"}},
        {R"(<ntk_ptz_white_balance mode="one_shot"/>)", {"81 01 04 35 03 FF", "81 01 04 10 05 FF"}},
        {R"(<ntk_ptz_white_balance mode="Outdoor" red="1"/>)", {"81 01 04 35 02 FF"}},
        {R"(<ntk_ptz_white_balance mode="sunset"/>)", {"81 01 04 35 00 FF"}},
        {R"(<ntk_ptz_white_balance_gain red="128" blue="256"/>)", {"81 01 04 43 00 00 08 00 FF"}},
        {R"(<ntk_ptz_white_balance_gain blue="255"/>)", {"81 01 04 44 00 00 0F 0F FF"}},
        // exposure: the engine sends iris, bright, shutter, gain whatever the writing order
        {R"(<ntk_ptz_vantor_exposure mode="manual" iris="5" shutterspeed="6" bright="7" gain="8"/>)",
         {"81 01 04 39 03 FF", "81 01 04 4B 00 00 00 05 FF", "81 01 04 4D 00 00 00 07 FF",
          "81 01 04 4A 00 00 00 06 FF", "81 01 04 4C 00 00 00 08 FF"}},
        {R"(<ntk_ptz_vantor_exposure mode="iris-pri" iris="9" gain="3"/>)",
         {"81 01 04 39 0B FF", "81 01 04 4B 00 00 00 09 FF"}},
        {R"(<ntk_ptz_vantor_exposure mode="shutter-pri" shutterspeed="1000"/>)",
         {"81 01 04 39 0A FF"}},
        {R"(<ntk_ptz_vantor_exposure iris="4"/>)", {}},
        {R"(<ntk_ptz_vantor_exposure_manual gain="2" iris="17" bright="-1"/>)",
         {"81 01 04 4B 00 00 01 01 FF", "81 01 04 4C 00 00 00 02 FF"}},
        {R"(<ntk_ptz_exposure mode="manual" value="1"/>)",
         {"81 01 04 39 03 FF", "81 01 04 4B 00 00 01 01 FF"}},
        {R"(<ntk_ptz_exposure mode="manual"/>)",
         {"81 01 04 39 03 FF", "81 01 04 4B 00 00 00 08 FF"}},
        {R"(<ntk_ptz_exposure value="1"/>)", {"81 01 04 39 00 FF"}},
        // misc: a status the item cannot take is not sent
        {R"(<ntk_ptz_misc cmdtype="menu_display" status="toggle"/>)", {"81 01 06 06 10 FF"}},
        {R"(<ntk_ptz_misc cmdtype="backlight" status="off"/>)", {"81 01 04 33 03 FF"}},
        {R"(<ntk_ptz_misc cmdtype="flip" status="enter"/>)", {"81 01 04 66 05 FF"}},
        {R"(<ntk_ptz_misc/>)", {"81 01 04 75 02 FF"}},
        {R"(<ntk_ptz_misc cmdtype="freeze" status="toggle"/>)", {}},
        {R"(<ntk_ptz_misc cmdtype="menu_display" status="enter"/>)", {}},
        {R"(<ntk_ptz_inq_command/>)", {}},
        // only the first top-level element counts
        {R"(<ntk_ptz_zoomed zoom="1"/>)", {}},
        {"\xEF\xBB\xBF<other/><ntk_ptz_zoom zoom=\"1\"/>", {}},
        {"\xEF\xBB\xBF<ntk_ptz_zoom_speed zoom_speed=\"0.3\"/>", {"81 01 04 07 22 FF"}},
        // hostile: not well-formed, too deep, wrong types; none of them has an effect
        {R"(<ntk_ptz_zoom zoom="0.5")", {}},
        {R"(<ntk_ptz_zoom zoom="0.5></ntk_ptz_zoom>)", {}},
        {R"(<ntk_ptz_zoom zoom="abc"/>)", {}},
        {R"(<ntk_ptz_store_preset index="12x"/>)", {}},
        {R"(<ntk_ptz_zoom_speed zoom_speed=""/>)", {"81 01 04 07 00 FF"}},
    };
    return cases;
}

}  // namespace vantor::test
