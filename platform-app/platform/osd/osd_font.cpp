#include "platform/osd/osd_font.h"

namespace {

const OSD_Font_Tables kTables[3] = {
    {ASCII_48x96, GB2312_96x96, DIR_48x96},
    {ASCII_24x48, GB2312_48x48, DIR_24x48},
    {ASCII_16x32, GB2312_32x32, DIR_16x32},
};

}  // namespace

const OSD_Font_Tables& OSD_Fonts(VideoStd_ArgSize size)
{
    return kTables[size <= ARG_SIZE_1280x720 ? size : ARG_SIZE_1920x1080];
}
