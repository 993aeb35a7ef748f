#include "platform/interconnect/interconnect.h"

namespace {

constexpr const char* kRegisterNames[REG_MAX] = {
#define INTERCONNECT_NAME_ENTRY(name, window, offset) #name,
    INTERCONNECT_REGISTER_LIST(INTERCONNECT_NAME_ENTRY)
#undef INTERCONNECT_NAME_ENTRY
};

// Row n describes register n, every register lies in one of the four register windows, 32-bit
// aligned and inside the window, and no two registers share an address.
constexpr bool register_map_is_consistent()
{
    for (uint32_t n = 0; n < REG_MAX; ++n) {
        const StrInterConnectRegInfo& row = Info[n];
        if (row.list != n || row.id > GP3_S_BASE_ADDR || row.offset_addr % 4 != 0 ||
            row.offset_addr + 4 > Mem_Map_Str_Table[row.id].SizeByte) {
            return false;
        }
        for (uint32_t m = 0; m < n; ++m) {
            if (Info[m].id == row.id && Info[m].offset_addr == row.offset_addr) {
                return false;
            }
        }
    }
    return true;
}
static_assert(register_map_is_consistent(), "the register map is inconsistent");
static_assert(REG_MAX == 82, "the FPGA has 82 registers");

// The window table lists window n in row n.
constexpr bool window_table_is_ordered()
{
    for (uint32_t n = 0; n < MAX_Mem_Map_ID; ++n) {
        if (Mem_Map_Str_Table[n].ID != n) {
            return false;
        }
    }
    return true;
}
static_assert(window_table_is_ordered(), "the window table is out of order");

}  // namespace

const char* InterConnectRegName(InterConnectRegList reg)
{
    return reg < REG_MAX ? kRegisterNames[reg] : "?";
}
