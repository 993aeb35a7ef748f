#include <cstdio>
#include <string>

#include "HelperLib/HelperLib.h"
#include "camcontrol/Camcontrol.h"
#include "camcontrol/WebUILamda.h"
#include "camcontrol/webui_bindings.h"

// Reconciliation of the web-UI settings files with the camera: read a group's file, compare every
// binding with the camera's value from the block inquiries, push file changes into the camera and
// write camera changes back into the file.

namespace {

const std::string& group_file(const Camcontrol& control, webui_group group)
{
    switch (group) {
    case webui_group::Exposure:
        return control.ExposureFileName;
    case webui_group::WhiteBalance:
        return control.WhiteBalanceFileName;
    case webui_group::Picture:
        return control.PictureFileName;
    case webui_group::Detail:
        return control.DetailFileName;
    case webui_group::Gamma:
        return control.GammaFileName;
    case webui_group::PTZ:
        break;
    }
    return control.PTZFileName;
}

bool in_file(const webui_binding& row)
{
    return row.sync == webui_sync::Compare || row.sync == webui_sync::CompareOnR8T ||
           row.sync == webui_sync::FileOnly;
}

Camcontrol::webui_read_codec read_codec(const webui_binding& row, camera_version model)
{
    return model == S700 && row.read_s700 != nullptr ? row.read_s700 : row.read;
}

Camcontrol::webui_write_codec write_codec(const webui_binding& row, camera_version model)
{
    return model == S700 && row.write_s700 != nullptr ? row.write_s700 : row.write;
}

void get_group(Camcontrol& control, webui_group group)
{
    const std::string& file = group_file(control, group);
    for (const webui_binding& row : webui_bindings()) {
        if (row.group == group && in_file(row)) {
            Camcontrol::ReadWEbUIFiletoInt(control.*row.member, file.c_str(),
                                           read_codec(row, control.enum_camera_version));
        }
    }
}

void set_group(Camcontrol& control, webui_group group)
{
    const std::string& file = group_file(control, group);
    for (const webui_binding& row : webui_bindings()) {
        if (row.group == group && in_file(row)) {
            Camcontrol::WriteWEbUIFiletoInt(control.*row.member, file.c_str(),
                                            write_codec(row, control.enum_camera_version));
        }
    }
}

// One comparison. When the camera takes a value the file has no text for, the file keeps its
// earlier text; that stale value must not count as a change of the file and undo the camera's.
void compare_binding(Camcontrol& control, const webui_binding& row, bool check_inq)
{
    Camcontrol::webui_cmd_str& cmd = control.*row.member;
    const uint32_t file_val = cmd.ui_val;
    if (cmd.stale_ui_val == file_val) {
        cmd.ui_val = cmd.sys_val;
    } else {
        cmd.stale_ui_val.reset();  // the file has been written since
    }
    if (control.cmp_webui_uimcu(cmd, row.width, 1, check_inq, false, row.byte_mode, false) != 0) {
        return;
    }
    const Camcontrol::webui_write_codec write = write_codec(row, control.enum_camera_version);
    if (write != nullptr && write(cmd.ui_val) == kWebUINoText) {
        cmd.stale_ui_val = file_val;
    } else {
        cmd.stale_ui_val.reset();
    }
}

void compare_group(Camcontrol& control, webui_group group, bool check_inq)
{
    for (const webui_binding& row : webui_bindings()) {
        if (row.group != group || row.sync == webui_sync::FileOnly ||
            row.sync == webui_sync::PresetRequest) {
            continue;
        }
        if (row.sync == webui_sync::CompareOnR8T && control.enum_camera_version != R8T) {
            continue;
        }
        compare_binding(control, row, check_inq);
    }
}

}  // namespace

void Camcontrol::ReadWEbUIFiletoInt(webui_cmd_str& cmd, const char* Filename, webui_read_codec func)
{
    const std::string text = GetJsonString(Filename, cmd.Key.c_str());
    if (text != kWebUINoText) {
        cmd.ui_val = func(text.c_str(), cmd.ui_val);
    }
    cmd.ui_update = false;
}

void Camcontrol::WriteWEbUIFiletoInt(webui_cmd_str& cmd, const char* Filename,
                                     webui_write_codec func)
{
    const std::string text = func(cmd.ui_val);
    SetJsonStringCond(Filename, cmd.Key.c_str(), text.c_str(),
                      cmd.ui_update && text != kWebUINoText);
}

void Camcontrol::ExposureGetWebUIValues()
{
    get_group(*this, webui_group::Exposure);
}
void Camcontrol::WhiteBalanceGetWebUIValues()
{
    get_group(*this, webui_group::WhiteBalance);
}
void Camcontrol::PictureGetWebUIValues()
{
    get_group(*this, webui_group::Picture);
    Picture_TWOTHREEDNR.ui_val =
        WebUICombineTwoThreeDnr(Picture_TWODNR.ui_val, Picture_ThreeDNR.ui_val);
    Picture_TWOTHREEDNR.ui_update = false;
}
void Camcontrol::DetailGetWebUIValues()
{
    get_group(*this, webui_group::Detail);
}
void Camcontrol::GammaGetWebUIValues()
{
    get_group(*this, webui_group::Gamma);
    if (Gamma_Pattern.ui_val > 50 && Gamma_PatternFine.ui_val > 2) {
        Gamma_PatternFine.ui_val = 2;
    }
    Gamma_PatternREG.ui_val = WebUICombinePattern(Gamma_Pattern.ui_val, Gamma_PatternFine.ui_val);
    Gamma_PatternREG.ui_update = false;
}

void Camcontrol::ExposureSetWebUIValues()
{
    set_group(*this, webui_group::Exposure);
}
void Camcontrol::WhiteBalanceSetWebUIValues()
{
    set_group(*this, webui_group::WhiteBalance);
}
void Camcontrol::PictureSetWebUIValues()
{
    WebUISplitTwoThreeDnr(Picture_TWOTHREEDNR.ui_val, Picture_TWODNR.ui_val,
                          Picture_ThreeDNR.ui_val);
    Picture_TWODNR.ui_update = Picture_TWOTHREEDNR.ui_update;
    Picture_ThreeDNR.ui_update = Picture_TWOTHREEDNR.ui_update;
    set_group(*this, webui_group::Picture);
}
void Camcontrol::DetailSetWebUIValues()
{
    set_group(*this, webui_group::Detail);
}
void Camcontrol::GammaSetWebUIValues()
{
    WebUISplitPattern(Gamma_PatternREG.sys_val, Gamma_Pattern.ui_val, Gamma_PatternFine.ui_val);
    Gamma_Pattern.ui_update = Gamma_PatternREG.ui_update;
    Gamma_PatternFine.ui_update = Gamma_PatternREG.ui_update;
    set_group(*this, webui_group::Gamma);
}

void Camcontrol::ExposureUpdateWebUIMCU(bool check_inq)
{
    ExposureGetWebUIValues();
    compare_group(*this, webui_group::Exposure, check_inq);
    ExposureSetWebUIValues();
}
void Camcontrol::WhiteBalanceUpdateWebUIMCU(bool check_inq)
{
    WhiteBalanceGetWebUIValues();
    compare_group(*this, webui_group::WhiteBalance, check_inq);
    WhiteBalanceSetWebUIValues();
}
void Camcontrol::PictureUpdateWebUIMCU(bool check_inq)
{
    PictureGetWebUIValues();
    compare_group(*this, webui_group::Picture, check_inq);
    PictureSetWebUIValues();
}
void Camcontrol::DetailUpdateWebUIMCU(bool check_inq)
{
    DetailGetWebUIValues();
    compare_group(*this, webui_group::Detail, check_inq);
    DetailSetWebUIValues();
}
void Camcontrol::GammaUpdateWebUIMCU(bool check_inq)
{
    GammaGetWebUIValues();
    compare_group(*this, webui_group::Gamma, check_inq);
    GammaSetWebUIValues();
}

bool Camcontrol::visca_inq_command_get_mcu(webui_cmd_str& cmd, int inq_bytes, bool b_n)
{
    if (cmd.mcu_blk_read) {
        const bool fresh = cmd.mcu_val_read;
        cmd.mcu_val_read = false;
        return fresh;
    }
    m_visca.visca_exec_inq_cmd(cmd.get_cmd);
    const visca_inq_command& reply = cmd.get_cmd;
    if (!reply.inq_fill || reply.inq_length < 3) {
        return false;
    }
    const unsigned unit_bits = b_n ? 8U : 4U;
    const unsigned unit_mask = b_n ? 0xFFU : 0x0FU;
    uint64_t value = 0;
    for (int i = 2; i < reply.inq_length - 1; ++i) {
        value = (value << unit_bits) | (reply.inq[i] & unit_mask);
    }
    const auto keep_bits = static_cast<unsigned>(inq_bytes) * 4U;
    if (keep_bits < 64U) {
        value &= (uint64_t{1} << keep_bits) - 1U;
    }
    cmd.mcu_val = static_cast<uint32_t>(value);
    return true;
}

int Camcontrol::cmp_webui_uimcu(webui_cmd_str& cmd, int cmd_bytes, int inq_bytes, bool check_inq,
                                bool no_cmd_res_chk, bool cmd_b_n, bool inq_b_n)
{
    cmd.set_cmd.comp = false;
    if (check_inq && !visca_inq_command_get_mcu(cmd, inq_bytes, inq_b_n)) {
        return 3;
    }
    const uint32_t camera = cmd.mcu_val;
    if (camera != cmd.sys_val) {
        std::printf("over write UI %s\n", cmd.Key.c_str());
        cmd.ui_val = camera;
        cmd.sys_val = camera;
        cmd.ui_update = true;
        cmd.fst_update_done = true;
        return 0;
    }
    if (cmd.ui_val == camera || !cmd.fst_update_done) {
        return 2;
    }
    if (!webui_command_carries(cmd, cmd_bytes, cmd_b_n)) {
        // A file value the command cannot carry: nothing is sent, the camera keeps its value and
        // the file is given the camera's value back.
        cmd.ui_val = camera;
        cmd.ui_update = true;
        return 2;
    }
    std::printf("over write MCU %s\n", cmd.Key.c_str());
    visca_command_set_mcu(cmd, cmd_bytes, cmd_b_n);
    if (cmd.set_cmd.comp || no_cmd_res_chk) {
        cmd.sys_val = cmd.ui_val;
        cmd.mcu_val = cmd.ui_val;
    }
    return 1;
}
