#pragma once

#include <cstdint>

// The IP-setup discovery enquiry on UDP 52380: 02 "ENQ:network" FF 03 at the start of the
// datagram of `length` bytes (bytes after it are ignored).
bool voip_is_search_enquiry(const uint8_t* datagram, int length);
