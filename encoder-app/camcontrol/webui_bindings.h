#pragma once

#include <cstddef>
#include <cstdint>

#include "camcontrol/Camcontrol.h"

// The table of web-UI setting bindings: one row per binding, describing its settings file group,
// JSON key, set packet, write-back format and value codec. Set-up, file reads and writes and the
// comparisons all walk this table, so every binding of the same shape takes the same path.

enum class webui_group : uint8_t { Exposure, WhiteBalance, Picture, Detail, Gamma, PTZ };

enum class webui_sync : uint8_t {
    Compare,        // read from and written to the file, compared with the camera
    CompareOnR8T,   // as Compare, but compared only on the R8T model
    FileOnly,       // read from and written to the file; sent through a combined binding
    CompareNoFile,  // a combined binding: compared and sent, its key never in the file
    PresetRequest,  // a preset store/recall command, driven by the preset request files
};

// Fields in the order a table row reads, not packed by size: the table is small and constant.
struct webui_binding {  // NOLINT(clang-analyzer-optin.performance.Padding)
    webui_group group;
    Camcontrol::webui_cmd_str Camcontrol::*member;
    const char* key;
    int cmd_bytes;  // parameter bytes of the set packet
    int cmd_type;
    int cmd_id;
    uint64_t prefil;  // fixed selector/register bytes of the set packet, right-aligned
    int inq_bytes;    // parameter bytes of the single-value inquiry
    uint64_t inq_prefil;
    int width;       // nibbles (or bytes in byte mode) the value fills before FF
    bool byte_mode;  // one whole value byte per parameter byte
    webui_sync sync;
    Camcontrol::webui_read_codec read;    // nullptr for combined bindings
    Camcontrol::webui_write_codec write;  // nullptr for combined bindings
    // The S700 model's codec pair where it differs (stabilizer); nullptr: the same as above.
    Camcontrol::webui_read_codec read_s700;
    Camcontrol::webui_write_codec write_s700;
};

struct webui_binding_list {
    const webui_binding* rows;
    std::size_t count;
    const webui_binding* begin() const { return rows; }
    const webui_binding* end() const { return rows + count; }
};

// Every binding, grouped, each group in the order its bindings are compared.
webui_binding_list webui_bindings();

// The row of the binding `member`; nullptr for a member that is no binding.
const webui_binding* webui_binding_for(Camcontrol::webui_cmd_str Camcontrol::*member);

// True when `value` fits `width` nibbles (or bytes in byte mode).
bool webui_value_fits(uint32_t value, int width, bool byte_mode);

// True when the last `cmd_bytes` parameter bytes of cmd.set_cmd can carry cmd.ui_val (one nibble
// per byte, or one byte per byte with `b_n`); otherwise prints why not (one line) and is false.
bool webui_command_carries(const Camcontrol::webui_cmd_str& cmd, int cmd_bytes, bool b_n);
