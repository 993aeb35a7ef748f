#pragma once

#include <cstdint>

// The application's own numbering of video formats, shared by the main loop, the dashboard status,
// the encoder and the camera control. Code 0 means "no format" throughout the program.
inline constexpr uint32_t video_format_not_valid = 0x00;
inline constexpr uint32_t video_format_1080_23_95p = 0x01;
inline constexpr uint32_t video_format_1080_24p = 0x02;
inline constexpr uint32_t video_format_1080_25p = 0x03;
inline constexpr uint32_t video_format_1080_29p = 0x04;
inline constexpr uint32_t video_format_1080_30p = 0x05;
inline constexpr uint32_t video_format_720_50p = 0x06;
inline constexpr uint32_t video_format_720_59p = 0x07;
inline constexpr uint32_t video_format_720_60p = 0x08;
inline constexpr uint32_t video_format_1080_25i = 0x13;
inline constexpr uint32_t video_format_1080_29i = 0x14;
inline constexpr uint32_t video_format_1080_30i = 0x15;
inline constexpr uint32_t video_format_1080_50p = 0x29;
inline constexpr uint32_t video_format_1080_59p = 0x2A;
inline constexpr uint32_t video_format_1080_60p = 0x2B;
inline constexpr uint32_t video_format_2160_23_95p = 0x31;
inline constexpr uint32_t video_format_2160_24p = 0x32;
inline constexpr uint32_t video_format_2160_25p = 0x33;
inline constexpr uint32_t video_format_2160_29p = 0x34;
inline constexpr uint32_t video_format_2160_30p = 0x35;
inline constexpr uint32_t video_format_2160_50p = 0x39;
inline constexpr uint32_t video_format_2160_59p = 0x3A;
inline constexpr uint32_t video_format_2160_60p = 0x3B;
inline constexpr uint32_t video_format_auto = 0xFF;
