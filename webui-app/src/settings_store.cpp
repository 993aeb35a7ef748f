#include "settings_store.h"

#include <map>
#include <mutex>

#include "HelperLib/HelperLib.h"
#include "json_text.h"
#include "settings_catalog.h"
#include "vantor/board_root.h"
#include "vantor/file_io.h"

namespace {

std::mutex write_mutex;

constexpr std::size_t kMaxValuesPerWrite = 64;

}  // namespace

std::string page_values_json(const std::string& page)
{
    std::map<std::string, std::string> texts;  // one read per file: its keys agree
    std::string out = "{\"values\":{";
    bool first = true;
    for (const page_control& control : page_controls()) {
        if (control.page != page) {
            continue;
        }
        auto found = texts.find(control.file);
        if (found == texts.end()) {
            std::string text;
            (void)vantor::read_file(vantor::board_path(control.file), text);
            found = texts.emplace(control.file, std::move(text)).first;
        }
        out += (first ? "" : ",") + json_string(control.file + "|" + control.key) + ":" +
               json_string(GetJsonStringFromText(found->second, control.key.c_str()));
        first = false;
    }
    out += "}}";
    return out;
}

settings_write_result write_page_values(const std::string& page, const setting_pairs& values)
{
    if (values.empty() || values.size() > kMaxValuesPerWrite) {
        return {false, "nothing to save"};
    }
    std::vector<std::pair<const page_control*, const std::string*>> checked;
    for (const auto& [name, value] : values) {
        const std::size_t bar = name.find('|');
        const page_control* control =
            bar == std::string::npos
                ? nullptr
                : find_control(page, name.substr(0, bar), name.substr(bar + 1));
        if (control == nullptr) {
            return {false, "this page has no setting " + name.substr(0, 80)};
        }
        const std::string refusal = check_control_value(*control, value);
        if (!refusal.empty()) {
            return {false, refusal};
        }
        checked.emplace_back(control, &value);
    }

    const std::lock_guard<std::mutex> lock(write_mutex);
    // Every key must be present before the first file changes, so a refusal writes nothing.
    for (const auto& [control, value] : checked) {
        std::string text;
        if (!vantor::read_file(vantor::board_path(control->file), text) ||
            GetJsonStringFromText(text, control->key.c_str()) == "NULL") {
            return {false, control->file + " has no \"" + control->key + "\" to change"};
        }
    }
    for (const auto& [control, value] : checked) {
        if (!SetJsonStringCond(control->file.c_str(), control->key.c_str(), value->c_str(), true)) {
            return {false, "could not write " + control->file};
        }
    }
    return {true, "saved"};
}
