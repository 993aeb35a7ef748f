// Taking bytes from the FPGA and assembling them into commands.

#include <cstring>

#include "platform/interconnect/interconnect.h"
#include "platform/osd/osd.h"
#include "platform/osd/osd_font.h"
#include "platform/osd/osd_state.h"

OsdState g_osd;

namespace {

constexpr uint8_t kSubstitutionColumn = 3;
constexpr uint8_t kBlankCode = 0xAD;
constexpr uint8_t kArrowCode = 0x59;
constexpr uint8_t kAudioOn = 2;
constexpr uint8_t kSpaceRgb = 2;
constexpr uint8_t kSpaceYuv = 3;
constexpr uint8_t kHdmiChannel = 1;
constexpr uint8_t kSdiChannel = 2;

bool is_position_byte(uint8_t b)
{
    return (b & 0xF0U) == OSD_CMD_POSITION;
}

// The command `b` belongs to: the open command, or the one `b` starts right after 0xA5.
uint32_t command_of(uint8_t b)
{
    if (g_osd.cmd != OSD_CMD_HEAD) {
        return g_osd.cmd;
    }
    return is_position_byte(b) ? static_cast<uint32_t>(OSD_CMD_POSITION) : b;
}

// 0xA5 starts a frame, except as the second byte of a two-byte character: inside a position
// frame whose column, row and first character byte are valid for one (the cell pair inside the
// grid, the first byte 0xA1 to 0xFE), it is data. GB2312 has one such character in each row of
// 94 (B5 A5 is the second character of the word for "menu"). Garbage still resynchronises at the
// next 0xA5 anywhere else; a frame cut off right after a valid first byte would take the next
// frame's 0xA5 as its character (drawn or refused), and that next frame is lost.
bool is_character_byte(uint8_t b)
{
    return b == OSD_CMD_HEAD && g_osd.cmd == OSD_CMD_POSITION && g_osd.num == 4 &&
           g_osd.h >= OSD_GB2312_FIRST && g_osd.h <= OSD_GB2312_LAST && g_osd.x + 2U <= OSD_MAX_H &&
           g_osd.y < OSD_MAX_V;
}

OSD_CmdList keep_open(uint32_t cmd)
{
    g_osd.cmd = cmd;
    // Saturates: a command left open (a channel-1 standard frame) swallows any number of bytes
    // without counting round to a field position again.
    if (g_osd.num != UINT8_MAX) {
        ++g_osd.num;
    }
    return OSD_CMD_INVALID;
}

OSD_CmdList complete(OSD_CmdList cmd)
{
    g_osd.cmd = OSD_CMD_INVALID;
    return cmd;
}

OSD_CmdList standard_byte(uint8_t b, uint8_t n)
{
    if (n == 1) {
        g_osd.extract_chn = b;
    } else if (n == 2) {
        if (g_osd.extract_chn == kHdmiChannel) {
            g_osd.hdmistd = static_cast<VideoStd_Index>(b);
        } else if (g_osd.extract_chn == kSdiChannel) {
            g_osd.uhdsdistd = static_cast<VideoStd_Index>(b);
            // A byte that names no standard leaves the size class as it was (indexing the
            // table with it would read past it).
            if (VideoStd_IsValid(g_osd.hdmistd)) {
                g_osd.argsize = StdFormat_Info[g_osd.hdmistd].size_id;
            }
            return complete(OSD_CMD_STD);
        }
    }
    return keep_open(OSD_CMD_STD);
}

OSD_CmdList position_byte(uint8_t b, uint8_t n)
{
    switch (n) {
    case 0:
        g_osd.char_feature = b & 0x0FU;
        break;
    case 1:
        g_osd.x = b;
        break;
    case 2:
        g_osd.y = b;
        break;
    case 3:
        g_osd.h = b;
        break;
    default:
        g_osd.l = b;
        break;
    }
    g_osd.dir_mode = 0;
    if (g_osd.x == kSubstitutionColumn && g_osd.h == 0) {
        if (g_osd.l == kBlankCode) {
            g_osd.dir_mode = 1;
        } else if (g_osd.l == kArrowCode) {
            g_osd.dir_mode = 2;
        }
    }
    if (n < 4) {
        return keep_open(OSD_CMD_POSITION);
    }
    if (OSD_Set_Position()) {
        OSD_FindFeatruePoint();
    }
    return complete(OSD_CMD_POSITION);
}

}  // namespace

bool OSD_Read_Cmd(uint8_t* value)
{
    const uint32_t valid = ReadRegister(OSD_REG_CMD_RX_VALID);
    if ((valid & 1U) == 0) {
        return false;
    }
    *value = static_cast<uint8_t>((valid >> 1) & 0xFFU);
    WriteRegister(OSD_REG_CMD_RX_READY, 1);
    return true;
}

OSD_CmdList Osd_Cmd_Extract(uint8_t b)
{
    if (b == OSD_CMD_HEAD && !is_character_byte(b)) {
        g_osd.head_en = true;
        g_osd.cmd = OSD_CMD_HEAD;
        g_osd.num = 0;
        return OSD_CMD_INVALID;
    }
    if (!g_osd.head_en) {
        return OSD_CMD_INVALID;
    }
    const uint8_t n = g_osd.num;
    switch (command_of(b)) {
    case OSD_CMD_STD:
        return standard_byte(b, n);
    case OSD_CMD_CLEAR:
        OSD_ClearFeatruePoint();
        return complete(OSD_CMD_CLEAR);
    case OSD_CMD_POSITION:
        return position_byte(b, n);
    case OSD_CMD_AUDIO:
        if (n == 1) {
            g_osd.aud_sw = b == kAudioOn;
            return complete(OSD_CMD_AUDIO);
        }
        return keep_open(OSD_CMD_AUDIO);
    case OSD_DEVICE_MAC:
        if (n >= 1) {
            g_osd.mac[n - 1] = b;
        }
        if (n == OSD_MAC_BYTES) {
            return complete(OSD_DEVICE_MAC);
        }
        return keep_open(OSD_DEVICE_MAC);
    case OSD_COLOR_SPACE:
        if (n == 1) {
            if (b == kSpaceRgb) {
                g_osd.color_space = COLOR_RGB;
            } else if (b == kSpaceYuv) {
                g_osd.color_space = COLOR_YUV;
            }
            return complete(OSD_COLOR_SPACE);
        }
        return keep_open(OSD_COLOR_SPACE);
    default:
        // Not a command this channel carries: ignored; the next byte is a command byte again.
        return OSD_CMD_INVALID;
    }
}

VideoStd_Index OSD_Get_HdmiStd()
{
    return g_osd.hdmistd;
}

VideoStd_Index OSD_Get_UhdSdiStd()
{
    return g_osd.uhdsdistd;
}

bool OSD_Get_AudSw()
{
    return g_osd.aud_sw;
}

OUT_COLOR_SPACE OSD_Get_ColorSpace()
{
    return g_osd.color_space;
}

void OSD_Get_Mac(uint32_t* dat)
{
    std::memcpy(dat, g_osd.mac, OSD_MAC_BYTES);
}

VideoStd_ArgSize OSD_Get_ArgSize()
{
    return g_osd.argsize;
}
