// The NDI runtime's framing in both directions: the byte stream of one connection, as a sender
// reads it from a receiver (hello, tally, metadata) or a receiver from a sender (source, failover,
// metadata, video, audio), cut into messages by MessageReader and each payload read back by its
// decoder. The first input byte picks the direction.
#include <cstddef>
#include <cstdint>
#include <string>

#include "codec.h"
#include "message_reader.h"
#include "support/fuzz_input.h"
#include "support/stream_pair.h"

namespace {

using namespace vantor::ndi;

void decode(const Message& message)
{
    std::string error;
    std::string text;
    std::string other;
    std::uint32_t number = 0;
    std::int64_t timecode = 0;
    switch (message.type) {
    case MessageType::Hello:
        (void)decode_hello(message.payload, number, text, error);
        break;
    case MessageType::Tally: {
        NDIlib_tally_t tally;
        (void)decode_tally(message.payload, tally, error);
        break;
    }
    case MessageType::Metadata:
        (void)decode_metadata(message.payload, text, timecode, error);
        break;
    case MessageType::Source:
        (void)decode_source(message.payload, text, other, error);
        break;
    case MessageType::Failover:
        (void)decode_failover(message.payload, text, other, error);
        break;
    case MessageType::Heartbeat:
        break;  // empty: nothing to decode
    case MessageType::Video: {
        NDIlib_video_frame_v2_t frame;
        if (decode_video(message.payload, frame, number, error)) {
            free_video(frame);
        }
        break;
    }
    case MessageType::Audio: {
        NDIlib_audio_frame_interleaved_32f_t frame;
        if (decode_audio(message.payload, frame, number, error)) {
            free_audio(frame);
        }
        break;
    }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    vantor::fuzz::FuzzInput input(data, size);
    const Direction direction =
        (input.byte() & 1U) != 0 ? Direction::ToReceiver : Direction::ToSender;
    const auto stream = vantor::fuzz::stream_with(input.rest(), input.rest_size(), true);
    MessageReader reader(direction);
    for (;;) {
        Message message;
        std::string error;
        if (reader.read(stream.local.get(), message, error) != MessageReader::Status::Message) {
            break;
        }
        decode(message);
    }
    return 0;
}
