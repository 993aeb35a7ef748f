#include "peripheral/ds10cp/ds10cp.h"

#include <cstdio>

void Ds10Cp::SetDs10Cp(Clk_Mode mode)
{
    (void)p->WriteByte(DS10CP_DEV_ADDR, 0x00, mode);
    uint8_t value = 0;
    if (!p->ReadByte(DS10CP_DEV_ADDR, 0x00, value)) {
        std::puts("ERR: SetDs10Cp: read back failed");
        return;
    }
    std::printf("SetDs10Cp = 0x%x\n", value);
}
