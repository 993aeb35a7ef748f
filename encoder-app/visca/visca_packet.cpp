#include "visca/visca.h"

namespace {

// The parameters are the big-endian bytes of `prefil`, right-aligned in `cmd_bytes` bytes; bytes
// before the last eight are 0. The packet must fit 16 bytes, so at most 11 parameter bytes.
int build_packet(uint8_t* packet, uint8_t kind, int cmd_bytes, int cmd_type, int cmd_id,
                 uint64_t prefil)
{
    if (cmd_bytes < 0) {
        cmd_bytes = 0;
    }
    if (cmd_bytes > VISCA_PACKET_SIZE - 5) {
        cmd_bytes = VISCA_PACKET_SIZE - 5;
    }
    packet[0] = 0x81;
    packet[1] = kind;
    packet[2] = static_cast<uint8_t>(cmd_type);
    packet[3] = static_cast<uint8_t>(cmd_id);
    for (int i = 0; i < cmd_bytes; ++i) {
        const int shift_bytes = cmd_bytes - 1 - i;  // distance from the last parameter byte
        packet[4 + i] =
            shift_bytes < 8 ? static_cast<uint8_t>((prefil >> (8 * shift_bytes)) & 0xFFU) : 0;
    }
    packet[4 + cmd_bytes] = 0xFF;
    return cmd_bytes + 5;
}

}  // namespace

void visca::create_command(visca_command& cmd, int cmd_bytes, int cmd_type, int cmd_id,
                           uint64_t prefil)
{
    cmd.cmd_length = build_packet(cmd.cmd, 0x01, cmd_bytes, cmd_type, cmd_id, prefil);
    cmd.ack = false;
    cmd.comp = false;
    cmd.cmd_fill = false;
}

void visca::create_inqcommand(visca_inq_command& cmd, int cmd_bytes, int cmd_type, int cmd_id,
                              uint64_t prefil)
{
    cmd.cmd_length = build_packet(cmd.cmd, 0x09, cmd_bytes, cmd_type, cmd_id, prefil);
    cmd.inq_fill = false;
}
