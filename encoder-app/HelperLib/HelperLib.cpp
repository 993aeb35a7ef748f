#include "HelperLib/HelperLib.h"

#include <cstddef>

#include "vantor/board_root.h"
#include "vantor/file_io.h"

namespace {

const char* const kNoValue = "NULL";

// Where a key's value starts: two characters past the end of its quoted form. npos when the key is
// missing or that position lies beyond the end of the text.
std::size_t value_offset(const std::string& text, const char* Key)
{
    const std::string quoted = std::string("\"") + Key + "\"";
    const std::size_t match = text.find(quoted);
    if (match == std::string::npos) {
        return std::string::npos;
    }
    const std::size_t offset = match + quoted.size() + 2;
    return offset <= text.size() ? offset : std::string::npos;
}

// A value that holds one of these would end the string early or escape its closing quote, and the
// web UI could no longer read the file.
bool is_safe_value(const char* Val)
{
    for (const char* p = Val; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\' || c < 0x20) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string GetJsonString(const char* filename, const char* Key)
{
    if (filename == nullptr || Key == nullptr) {
        return kNoValue;
    }
    std::string text;
    if (!vantor::read_file(vantor::board_path(filename), text)) {
        return kNoValue;
    }
    return GetJsonStringFromText(text, Key);
}

std::string GetJsonStringFromText(const std::string& text, const char* Key)
{
    if (Key == nullptr) {
        return kNoValue;
    }
    const std::size_t offset = value_offset(text, Key);
    if (offset == std::string::npos) {
        return kNoValue;
    }
    const std::size_t close = text.find('"', offset);
    return close == std::string::npos ? text.substr(offset) : text.substr(offset, close - offset);
}

bool SetJsonStringCond(const char* filename, const char* Key, const char* Val, bool condition)
{
    if (!condition) {
        return true;
    }
    if (filename == nullptr || Key == nullptr || Val == nullptr || !is_safe_value(Val)) {
        return false;
    }
    const std::string path = vantor::board_path(filename);
    std::string text;
    if (!vantor::read_file(path, text)) {
        return false;
    }
    const std::size_t offset = value_offset(text, Key);
    if (offset == std::string::npos) {
        return false;
    }
    const std::size_t close = text.find('"', offset);
    if (close == std::string::npos) {
        return false;
    }
    std::string updated;
    updated.reserve(text.size() + std::char_traits<char>::length(Val));
    updated.append(text, 0, offset).append(Val).append(text, close, std::string::npos);
    return vantor::replace_file_atomically(path, updated);
}
