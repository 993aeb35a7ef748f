#pragma once

#include <cstdint>
#include <vector>

// The bytes of the VISCA protocol as the camera module at address 1 uses them.
namespace camsim::visca {

using Packet = std::vector<uint8_t>;

inline constexpr uint8_t kCameraAddress = 0x81;  // controller to camera 1
inline constexpr uint8_t kBroadcast = 0x88;
inline constexpr uint8_t kReplyAddress = 0x90;  // camera 1 to the controller
inline constexpr uint8_t kTerminator = 0xFF;

// Second byte of a packet to the camera.
inline constexpr uint8_t kCommand = 0x01;
inline constexpr uint8_t kInquiry = 0x09;
inline constexpr uint8_t kCancel = 0x20;  // 2y: cancel the command in socket y

// Second byte of a reply (the socket in the low nibble).
inline constexpr uint8_t kAck = 0x40;
inline constexpr uint8_t kCompletion = 0x50;
inline constexpr uint8_t kReplyKind = 0x50;  // an inquiry reply: completion on socket 0
inline constexpr uint8_t kError = 0x60;

// Third byte of an error reply.
inline constexpr uint8_t kMessageLength = 0x01;
inline constexpr uint8_t kSyntaxError = 0x02;
inline constexpr uint8_t kBufferFull = 0x03;
inline constexpr uint8_t kCancelled = 0x04;
inline constexpr uint8_t kNoSocket = 0x05;
inline constexpr uint8_t kNotExecutable = 0x41;

// On/off values of the registers (and of the Power register: on, standby).
inline constexpr uint8_t kOn = 0x02;
inline constexpr uint8_t kOff = 0x03;
inline constexpr uint8_t kToggle = 0x10;
inline constexpr uint8_t kPowerOn = kOn;
inline constexpr uint8_t kPowerStandby = kOff;

inline Packet socket_reply(uint8_t kind, int socket)
{
    return {kReplyAddress, static_cast<uint8_t>(kind | static_cast<uint8_t>(socket)), kTerminator};
}

inline Packet error_reply(int socket, uint8_t code)
{
    return {kReplyAddress, static_cast<uint8_t>(kError | static_cast<uint8_t>(socket)), code,
            kTerminator};
}

inline Packet if_clear()
{
    return {kCameraAddress, kCommand, 0x00, 0x01, kTerminator};
}

inline Packet if_clear_reply()
{
    return {kReplyAddress, kReplyKind, kTerminator};
}

inline Packet broadcast_if_clear()
{
    return {kBroadcast, kCommand, 0x00, 0x01, kTerminator};
}

inline Packet broadcast_address_set()
{
    return {kBroadcast, 0x30, 0x01, kTerminator};
}

inline Packet address_set_reply()
{
    return {kBroadcast, 0x30, 0x02, kTerminator};
}

inline Packet power_on()
{
    return {kCameraAddress, kCommand, 0x04, 0x00, kPowerOn, kTerminator};
}

}  // namespace camsim::visca
