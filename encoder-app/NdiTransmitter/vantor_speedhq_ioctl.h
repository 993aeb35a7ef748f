#pragma once

#include <cstdint>

// Control requests of the SpeedHQ encoder device "/dev/vantor-speedhq". They are plain small
// integers passed as the request code (no encoded direction or size); where a request takes an
// argument it is a pointer to one 32-bit int, which requests 9 and 21 fill in.

inline constexpr const char* kVantorSpeedHqDevicePath = "/dev/vantor-speedhq";

inline constexpr std::uint32_t VANTOR_SPEEDHQ_IOCTL_START = 0;        // start encoding
inline constexpr std::uint32_t VANTOR_SPEEDHQ_IOCTL_STOP = 1;         // stop encoding
inline constexpr std::uint32_t VANTOR_SPEEDHQ_IOCTL_CS_SEL = 3;       // program chroma: 1 = 4:2:0
inline constexpr std::uint32_t VANTOR_SPEEDHQ_IOCTL_DCI = 4;          // always 0
inline constexpr std::uint32_t VANTOR_SPEEDHQ_IOCTL_SET_BR_PROG = 5;  // program frame size, bytes
inline constexpr std::uint32_t VANTOR_SPEEDHQ_IOCTL_SET_BR_PREV = 6;  // preview frame size, bytes
inline constexpr std::uint32_t VANTOR_SPEEDHQ_IOCTL_VM_2k_4k = 7;     // 1 for the 2160p formats
inline constexpr std::uint32_t VANTOR_SPEEDHQ_IOCTL_VM_UV_VU = 8;
inline constexpr std::uint32_t VANTOR_SPEEDHQ_IOCTL_GET_FIELD = 9;   // out: bit 0 = field parity
inline constexpr std::uint32_t VANTOR_SPEEDHQ_IOCTL_RD_SEL = 10;     // what the next read returns
inline constexpr std::uint32_t VANTOR_SPEEDHQ_IOCTL_MODE_SEL = 11;   // encoder mode, see below
inline constexpr std::uint32_t VANTOR_SPEEDHQ_IOCTL_VIN_INSEL = 12;  // input configuration
inline constexpr std::uint32_t VANTOR_SPEEDHQ_IOCTL_SEL_Q = 13;
inline constexpr std::uint32_t VANTOR_SPEEDHQ_IOCTL_Q_val = 14;
inline constexpr std::uint32_t VANTOR_SPEEDHQ_IOCTL_LOW_AC = 15;
inline constexpr std::uint32_t VANTOR_SPEEDHQ_IOCTL_LOW_AC_READ = 16;
inline constexpr std::uint32_t VANTOR_SPEEDHQ_IOCTL_SCALE_MODE_PIX_DEPTH = 17;
inline constexpr std::uint32_t VANTOR_SPEEDHQ_IOCTL_ENCODER_TALLY = 18;
inline constexpr std::uint32_t VANTOR_SPEEDHQ_IOCTL_VIDEO_FORMAT = 19;
inline constexpr std::uint32_t VANTOR_SPEEDHQ_IOCTL_SWITCH_BUFF = 20;
inline constexpr std::uint32_t VANTOR_SPEEDHQ_IOCTL_READ_LENGTH = 21;  // out: selected picture size

// Selectors of VANTOR_SPEEDHQ_IOCTL_RD_SEL.
inline constexpr std::int32_t VANTOR_SPEEDHQ_RD_SEL_WAIT_FRAME = 1;  // wait; next read: status
inline constexpr std::int32_t VANTOR_SPEEDHQ_RD_SEL_PROGRAM = 2;     // next read: program picture
inline constexpr std::int32_t VANTOR_SPEEDHQ_RD_SEL_PREVIEW = 3;     // next read: preview picture

// Values of VANTOR_SPEEDHQ_IOCTL_MODE_SEL.
inline constexpr std::int32_t VANTOR_SPEEDHQ_MODE_2160P = 0;
inline constexpr std::int32_t VANTOR_SPEEDHQ_MODE_720P = 1;
inline constexpr std::int32_t VANTOR_SPEEDHQ_MODE_1080P = 2;
inline constexpr std::int32_t VANTOR_SPEEDHQ_MODE_1080I = 3;

// After a frame wait, a read with this count returns the index (1 to 5) of the frame buffer just
// completed and fills a status record of this many 32-bit words; word 4 holds the index of the
// buffer completed before it.
inline constexpr std::uint32_t VANTOR_SPEEDHQ_STATUS_WORDS = 6;
inline constexpr std::uint32_t VANTOR_SPEEDHQ_STATUS_PREVIOUS_INDEX_WORD = 4;
