// The web-UI settings files as the camera control reads and rewrites them: the value of every
// binding's key found in a fuzzed file text, read through the binding's codec (both models'),
// checked against its parameter field and written back through its write codec; the combined
// settings split and joined; and one value rewritten in the file, which must then read back as
// written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "HelperLib/HelperLib.h"
#include "camcontrol/WebUILamda.h"
#include "camcontrol/webui_bindings.h"
#include "support/fuzz_input.h"
#include "support/temp_root.h"
#include "vantor/board_root.h"
#include "vantor/file_io.h"

namespace {

constexpr const char* kFile = "/etc/vantor-fuzz-setup.json";

void through_codecs(const webui_binding& row, const std::string& text, uint32_t original,
                    uint64_t camera_value)
{
    const Camcontrol::webui_read_codec reads[] = {row.read, row.read_s700};
    const Camcontrol::webui_write_codec writes[] = {row.write, row.write_s700};
    for (const Camcontrol::webui_read_codec read : reads) {
        if (read != nullptr) {
            const uint32_t value = read(text.c_str(), original);
            (void)webui_value_fits(value, row.width, row.byte_mode);
        }
    }
    for (const Camcontrol::webui_write_codec write : writes) {
        if (write != nullptr) {
            (void)write(camera_value);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static const vantor::fuzz::TempRoot root;
    vantor::fuzz::FuzzInput input(data, size);
    const uint8_t row_choice = input.byte();
    const auto original = static_cast<uint32_t>(input.u64());
    const uint64_t camera_value = input.u64();
    const std::string value = input.text();
    const std::string text(reinterpret_cast<const char*>(input.rest()), input.rest_size());

    const webui_binding_list rows = webui_bindings();
    for (const webui_binding& row : rows) {
        const std::string found = GetJsonStringFromText(text, row.key);
        if (found != kWebUINoText) {
            through_codecs(row, found, original, camera_value);
        }
    }

    uint32_t first = 0;
    uint32_t second = 0;
    WebUISplitTwoThreeDnr(original, first, second);
    (void)WebUICombineTwoThreeDnr(first, second);
    WebUISplitPattern(original, first, second);
    (void)WebUICombinePattern(first, second);

    const webui_binding& row = rows.rows[row_choice % rows.count];
    if (!vantor::replace_file_atomically(vantor::board_path(kFile), text)) {
        std::abort();
    }
    if (SetJsonStringCond(kFile, row.key, value.c_str(), true) &&
        GetJsonString(kFile, row.key) != value) {
        std::abort();  // a value written is a value read back
    }
    return 0;
}
