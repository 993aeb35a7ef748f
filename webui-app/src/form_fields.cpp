#include "form_fields.h"

namespace {

int hex_digit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool decode(std::string_view in, std::string& out)
{
    out.clear();
    for (std::size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '+') {
            c = ' ';
        } else if (c == '%') {
            if (i + 2 >= in.size()) {
                return false;
            }
            const int high = hex_digit(in[i + 1]);
            const int low = hex_digit(in[i + 2]);
            if (high < 0 || low < 0) {
                return false;
            }
            c = static_cast<char>(high * 16 + low);
            i += 2;
        }
        if (c == '\0') {
            return false;
        }
        out += c;
    }
    return true;
}

std::string_view trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

bool parse_form(std::string_view body, std::map<std::string, std::string>& fields,
                std::size_t max_fields)
{
    fields.clear();
    while (!body.empty()) {
        const std::size_t amp = body.find('&');
        const std::string_view pair = body.substr(0, amp);
        body = amp == std::string_view::npos ? std::string_view() : body.substr(amp + 1);
        const std::size_t eq = pair.find('=');
        std::string name;
        std::string value;
        if (eq == std::string_view::npos || !decode(pair.substr(0, eq), name) || name.empty() ||
            !decode(pair.substr(eq + 1), value) || fields.size() >= max_fields ||
            !fields.emplace(std::move(name), std::move(value)).second) {
            fields.clear();
            return false;
        }
    }
    return true;
}

std::string cookie_value(std::string_view header, std::string_view name)
{
    while (!header.empty()) {
        const std::size_t semi = header.find(';');
        const std::string_view part = trim(header.substr(0, semi));
        header = semi == std::string_view::npos ? std::string_view() : header.substr(semi + 1);
        const std::size_t eq = part.find('=');
        if (eq != std::string_view::npos && trim(part.substr(0, eq)) == name) {
            return std::string(trim(part.substr(eq + 1)));
        }
    }
    return {};
}
