#include "config.h"

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

namespace vantor::ndi {

namespace {

// A JSON value: just enough of a tree to look members up by path.
struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    std::string text;  // the string, or the number's spelling
    std::vector<std::pair<std::string, std::unique_ptr<JsonValue>>> members;
    std::vector<std::unique_ptr<JsonValue>> items;

    const JsonValue* member(const std::string& name) const
    {
        for (const auto& [key, value] : members) {
            if (key == name) {
                return value.get();
            }
        }
        return nullptr;
    }
};

// Recursive-descent parser over the whole text. Nesting is limited so that a hostile text cannot
// exhaust the stack.
class JsonParser {
public:
    explicit JsonParser(const std::string& text) : m_text(text) {}

    std::unique_ptr<JsonValue> parse_document()
    {
        // The tree is owned by unique_ptr throughout; the analyzer loses track across the
        // recursion.
        auto value = parse_value(0);  // NOLINT(clang-analyzer-cplusplus.NewDeleteLeaks)
        skip_blanks();
        if (value && m_pos != m_text.size()) {
            fail("unexpected text after the value");
            return nullptr;
        }
        return value;
    }

    const std::string& error() const { return m_error; }
    std::size_t error_offset() const { return m_error_offset; }

private:
    static constexpr int kMaxDepth = 32;

    void fail(const char* why)
    {
        if (m_error.empty()) {
            m_error = why;
            m_error_offset = m_pos;
        }
    }

    void skip_blanks()
    {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' ||
                                         m_text[m_pos] == '\n' || m_text[m_pos] == '\r')) {
            ++m_pos;
        }
    }

    bool literal(const char* word)
    {
        const std::string expected(word);
        if (m_text.compare(m_pos, expected.size(), expected) != 0) {
            return false;
        }
        m_pos += expected.size();
        return true;
    }

    std::unique_ptr<JsonValue> parse_value(int depth)
    {
        if (depth > kMaxDepth) {
            fail("nested too deeply");
            return nullptr;
        }
        skip_blanks();
        if (m_pos >= m_text.size()) {
            fail("value expected");
            return nullptr;
        }
        auto value = std::make_unique<JsonValue>();
        const char c = m_text[m_pos];
        if (c == '{') {
            value->kind = JsonValue::Kind::Object;
            return parse_object(value, depth) ? std::move(value) : nullptr;
        }
        if (c == '[') {
            value->kind = JsonValue::Kind::Array;
            return parse_array(value, depth) ? std::move(value) : nullptr;
        }
        if (c == '"') {
            value->kind = JsonValue::Kind::String;
            return parse_string(value->text) ? std::move(value) : nullptr;
        }
        if (literal("true") || literal("false")) {
            value->kind = JsonValue::Kind::Bool;
            return value;
        }
        if (literal("null")) {
            return value;
        }
        if (c == '-' || (c >= '0' && c <= '9')) {
            value->kind = JsonValue::Kind::Number;
            const std::size_t start = m_pos;
            while (m_pos < m_text.size() &&
                   std::string("+-.eE0123456789").find(m_text[m_pos]) != std::string::npos) {
                ++m_pos;
            }
            value->text = m_text.substr(start, m_pos - start);
            return value;
        }
        fail("value expected");
        return nullptr;
    }

    bool parse_object(const std::unique_ptr<JsonValue>& object, int depth)
    {
        ++m_pos;  // '{'
        skip_blanks();
        if (m_pos < m_text.size() && m_text[m_pos] == '}') {
            ++m_pos;
            return true;
        }
        for (;;) {
            skip_blanks();
            std::string key;
            if (m_pos >= m_text.size() || m_text[m_pos] != '"' || !parse_string(key)) {
                fail("member name expected");
                return false;
            }
            skip_blanks();
            if (m_pos >= m_text.size() || m_text[m_pos] != ':') {
                fail("':' expected");
                return false;
            }
            ++m_pos;
            auto value = parse_value(depth + 1);
            if (!value) {
                return false;
            }
            object->members.emplace_back(std::move(key), std::move(value));
            skip_blanks();
            if (m_pos < m_text.size() && m_text[m_pos] == ',') {
                ++m_pos;
                continue;
            }
            if (m_pos < m_text.size() && m_text[m_pos] == '}') {
                ++m_pos;
                return true;
            }
            fail("',' or '}' expected");
            return false;
        }
    }

    bool parse_array(const std::unique_ptr<JsonValue>& array, int depth)
    {
        ++m_pos;  // '['
        skip_blanks();
        if (m_pos < m_text.size() && m_text[m_pos] == ']') {
            ++m_pos;
            return true;
        }
        for (;;) {
            auto value = parse_value(depth + 1);
            if (!value) {
                return false;
            }
            array->items.push_back(std::move(value));
            skip_blanks();
            if (m_pos < m_text.size() && m_text[m_pos] == ',') {
                ++m_pos;
                continue;
            }
            if (m_pos < m_text.size() && m_text[m_pos] == ']') {
                ++m_pos;
                return true;
            }
            fail("',' or ']' expected");
            return false;
        }
    }

    // A string at m_pos (which holds '"'). Escapes are kept as the character they name for the
    // simple ones; \u sequences are kept as written (no value this runtime uses needs them).
    bool parse_string(std::string& out)
    {
        ++m_pos;  // opening quote
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos++];
            if (c == '"') {
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                --m_pos;
                fail("control character in a string");
                return false;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_pos >= m_text.size()) {
                break;
            }
            const char escaped = m_text[m_pos++];
            switch (escaped) {
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'u':
                out += "\\u";
                break;
            case '"':
            case '\\':
            case '/':
                out += escaped;
                break;
            default:
                --m_pos;
                fail("unknown escape in a string");
                return false;
            }
        }
        fail("unterminated string");
        return false;
    }

    const std::string& m_text;
    std::size_t m_pos = 0;
    std::string m_error;
    std::size_t m_error_offset = 0;
};

std::string string_at(const JsonValue* root, std::initializer_list<const char*> path)
{
    const JsonValue* value = root;
    for (const char* name : path) {
        if (value == nullptr || value->kind != JsonValue::Kind::Object) {
            return {};
        }
        value = value->member(name);
    }
    if (value == nullptr || value->kind != JsonValue::Kind::String) {
        return {};
    }
    return value->text;
}

}  // namespace

SenderConfig parse_sender_config(const char* text)
{
    SenderConfig config;
    if (text == nullptr) {
        return config;
    }
    const std::string source(text);
    if (source.find_first_not_of(" \t\r\n") == std::string::npos) {
        return config;
    }
    JsonParser parser(source);
    const std::unique_ptr<JsonValue> root = parser.parse_document();
    if (!root) {
        config.valid = false;
        config.error = parser.error() + " at offset " + std::to_string(parser.error_offset());
        return config;
    }
    config.vendor_name = string_at(root.get(), {"ndi", "vendor", "name"});
    config.vendor_id = string_at(root.get(), {"ndi", "vendor", "id"});
    return config;
}

}  // namespace vantor::ndi
