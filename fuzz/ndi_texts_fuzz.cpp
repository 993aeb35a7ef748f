// The texts the NDI runtime reads: a sender's JSON configuration, the text of a metadata frame
// handed to it (cut at its length or first NUL), the source names and group lists receivers
// match senders by, and a sender's registry file ("name=", "address=", "groups=", "pid=",
// "start=" lines), read back by a receiver looking for senders (with the /proc status text of the
// process it names).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "codec.h"
#include "config.h"
#include "registry.h"
#include "source_entry.h"
#include "support/fuzz_input.h"
#include "support/temp_root.h"
#include "vantor/file_io.h"

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

    // The registry folder is the private board root's /tmp (mode 0700, as the runtime demands).
    static const vantor::fuzz::TempRoot root;
    static const bool registry_set =
        ::setenv("VANTOR_NDI_REGISTRY", (root.path() + "/tmp").c_str(), 1) == 0;
    (void)registry_set;
    const std::string rest(reinterpret_cast<const char*>(input.rest()), input.rest_size());
    if (!vantor::replace_file_atomically(root.path() + "/tmp/fuzz.sender", rest)) {
        std::abort();
    }
    std::vector<SourceEntry> found = registry_senders();
    merge_sources(found, {SourceEntry{first, second, rest}});
    return 0;
}
