#include <cstdio>

#include "visca/visca.h"

namespace {

// Application video-format code <-> the camera's video-format register (72) value.
struct FormatRegister {
    int code;
    uint8_t value;
};

constexpr FormatRegister kFormatRegisters[] = {
    {1, 0x22},  {2, 0x1F},  {3, 0x08},  {4, 0x06},  {5, 0x07},  {6, 0x0C},
    {7, 0x09},  {8, 0x0A},  {19, 0x04}, {20, 0x01}, {21, 0x02}, {41, 0x14},
    {42, 0x13}, {43, 0x15}, {49, 0x21}, {50, 0x20}, {51, 0x1E}, {52, 0x1D},
};

constexpr uint8_t kFormatRegister = 0x72;

uint8_t register_value_of(int code)
{
    for (const FormatRegister& entry : kFormatRegisters) {
        if (entry.code == code) {
            return entry.value;
        }
    }
    return 0x00;
}

int code_of_register_value(uint8_t value)
{
    for (const FormatRegister& entry : kFormatRegisters) {
        if (entry.value == value) {
            return entry.code;
        }
    }
    return 0;
}

void build_format_inquiry(visca_inq_command& inq)
{
    visca::create_inqcommand(inq, 1, 0x04, 0x24, kFormatRegister);
}

}  // namespace

bool visca::run_inquiry(visca_inq_command& inq, int ff_index)
{
    visca_exec_inq_cmd(inq);
    return inq.inq_fill && inq.inq_length > ff_index && inq.inq[0] == 0x90 && inq.inq[1] == 0x50 &&
           inq.inq[ff_index] == 0xFF;
}

bool visca::visca_r8t_init()
{
    visca_inq_command inq;
    build_format_inquiry(inq);
    visca_exec_inq_cmd(inq);
    const bool answered = inq.inq_fill;
    std::puts(answered ? "camera initialization check is ok"
                       : "camera initialization check is wrong");
    std::fflush(stdout);
    return answered;
}

void visca::vid_format_change(int vid_fmt)
{
    const uint8_t value = register_value_of(vid_fmt);
    cam_vid_fmt = visca_command{};
    // 81 01 04 24 72 0p 0q FF
    create_command(cam_vid_fmt, 3, 0x04, 0x24,
                   (uint64_t{kFormatRegister} << 16) | (uint64_t{value} >> 4U) << 8U |
                       (value & 0x0FU));
    std::printf("CAM vid_format_change %x\n", value);
    std::fflush(stdout);
    visca_exec_cmd(cam_vid_fmt);
}

int visca::vid_format_get()
{
    std::puts("vid_format_get");
    cam_vid_fmt_inq = visca_inq_command{};
    build_format_inquiry(cam_vid_fmt_inq);
    // 90 50 0p 0q FF
    if (!run_inquiry(cam_vid_fmt_inq, 4)) {
        std::fflush(stdout);
        return 0;
    }
    const auto value =
        static_cast<uint8_t>((cam_vid_fmt_inq.inq[2] << 4U) + cam_vid_fmt_inq.inq[3]);
    std::printf("valid responce %x\n", value);
    std::fflush(stdout);
    return code_of_register_value(value);
}

int visca::cam_version_get(uint16_t& ret)
{
    visca_inq_command inq;
    create_inqcommand(inq, 0, 0x00, 0x02, 0);
    // 90 50 vendor vendor model model rom rom socket FF
    if (run_inquiry(inq, 9)) {
        ret = static_cast<uint16_t>((inq.inq[4] << 8U) | inq.inq[5]);
    }
    return 0;
}

bool visca::visca_commandinquiry(uint8_t eCmd1st, uint8_t eCmd2nd, uint8_t& nValue)
{
    visca_inq_command inq;
    create_inqcommand(inq, 0, eCmd1st, eCmd2nd, 0);
    // 90 50 value FF
    if (!run_inquiry(inq, 3)) {
        return false;
    }
    nValue = inq.inq[2];
    return true;
}

void visca::close_osd()
{
    for (int check = 0; check < 4; ++check) {
        visca_inq_command inq;
        create_inqcommand(inq, 0, 0x04, 0x15, 0);
        visca_exec_inq_cmd(inq);
        if (inq.inq_fill && inq.inq_length > 2 && inq.inq[2] == 0x02) {
            visca_command toggle;
            create_command(toggle, 1, 0x06, 0x06, 0x10);
            visca_exec_cmd(toggle);
        }
    }
}
