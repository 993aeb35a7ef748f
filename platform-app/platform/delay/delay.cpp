#include "platform/delay/delay.h"

#include <chrono>
#include <thread>

void Delay_Ms(uint32_t ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
