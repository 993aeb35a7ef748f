#include "peripheral/lmh1983/lmh1983.h"

namespace {

struct ReferenceFormat {
    uint8_t code;  // register 20
    VideoStd_Index std;
};

constexpr ReferenceFormat kReferenceFormats[] = {
    {4, VID_HD_720P60},   {5, VID_HD_720P59_94},   {6, VID_HD_720P50},
    {12, VID_3G_1080P60}, {13, VID_3G_1080P59_94}, {14, VID_3G_1080P50},
    {15, VID_HD_1080P30}, {16, VID_HD_1080P29_97}, {17, VID_HD_1080P25},
    {20, VID_HD_1080I60}, {21, VID_HD_1080I59_94}, {22, VID_HD_1080I50},
};

}  // namespace

void Lmh1983::SetLmh1983()
{
    (void)p->WriteByte(LMH1983_ADDR, 0x05, 0x80);
}

VideoStd_Index Lmh1983::GetLmh1983Format()
{
    uint8_t ignored = 0;
    (void)p->ReadByte(LMH1983_ADDR, 0x07, ignored);
    (void)p->ReadByte(LMH1983_ADDR, 0x08, ignored);
    uint8_t code = 0;
    if (!p->ReadByte(LMH1983_ADDR, 0x20, code)) {
        return VID_INVALID;
    }
    for (const ReferenceFormat& row : kReferenceFormats) {
        if (row.code == code) {
            return row.std;
        }
    }
    return VID_INVALID;
}
