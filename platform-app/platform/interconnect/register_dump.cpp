#include "platform/interconnect/register_dump.h"

#include <cstdio>
#include <cstring>

void PrintRegisterBlock(InterConnectRegList first, InterConnectRegList last,
                        bool (*in_hex)(InterConnectRegList))
{
    int width = 0;
    for (uint32_t r = first; r <= last && r < REG_MAX; ++r) {
        const auto len = static_cast<int>(std::strlen(InterConnectRegName(InterConnectRegList(r))));
        width = len > width ? len : width;
    }
    for (uint32_t r = first; r <= last && r < REG_MAX; ++r) {
        const auto reg = static_cast<InterConnectRegList>(r);
        const uint32_t value = ReadRegister(reg);
        if (in_hex != nullptr && in_hex(reg)) {
            std::printf("%-*s = 0x%08x\n", width, InterConnectRegName(reg), value);
        } else {
            std::printf("%-*s = %u\n", width, InterConnectRegName(reg), value);
        }
    }
}
