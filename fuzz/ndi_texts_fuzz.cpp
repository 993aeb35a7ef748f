// The texts the NDI runtime reads: a sender's JSON configuration, the text of a metadata frame
// handed to it (cut at its length or first NUL), and the source names and group lists receivers
// match senders by.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "codec.h"
#include "config.h"
#include "source_entry.h"
#include "support/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    using namespace vantor::ndi;
    vantor::fuzz::FuzzInput input(data, size);
    const uint8_t length_choice = input.byte();
    const std::string first = input.text();
    const std::string second = input.text();

    (void)parse_sender_config(first.c_str());

    // The frame's length as given by the caller: 0 (up to the NUL), exact, or too short.
    std::vector<char> buffer(first.begin(), first.end());
    buffer.push_back('\0');
    NDIlib_metadata_frame_t frame;
    frame.p_data = buffer.data();
    frame.length = static_cast<int>(length_choice % (buffer.size() + 1));
    (void)metadata_text(frame);

    (void)name_matches(first, second);
    (void)groups_match(first, second);
    return 0;
}
