#pragma once

// Command byte streams as the FPGA relays them, built from the control commands' words.

#include <cstdint>
#include <string>
#include <vector>

// "A5 15 01 0C": bytes in hexadecimal separated by blanks. False (with a reason) on anything else.
bool parse_hex_bytes(const std::string& words, std::vector<uint8_t>& bytes, std::string& error);

// The two standard frames: HDMI standard (channel 1), then UHD-SDI standard (channel 2).
std::vector<uint8_t> standard_frames(uint8_t hdmi, uint8_t sdi);

// One position frame per character of `utf8` from column `x` of row `y`: ASCII as single-byte
// characters (one column), everything else converted to GB2312 (two bytes, two columns). False
// (with a reason) when a character has no GB2312 code.
bool text_frames(uint8_t x, uint8_t y, const std::string& utf8, std::vector<uint8_t>& bytes,
                 std::string& error);
