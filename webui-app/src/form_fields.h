#pragma once

#include <map>
#include <string>
#include <string_view>

// The fields of an application/x-www-form-urlencoded body ("a=1&b=x%20y"). False for a malformed
// body: a bad percent escape, a field without '=', an empty name, a repeated name, more than
// `max_fields` fields, or a decoded NUL byte.
bool parse_form(std::string_view body, std::map<std::string, std::string>& fields,
                std::size_t max_fields = 64);

// The value of cookie `name` in a Cookie header ("a=1; session=abc"); empty when absent.
std::string cookie_value(std::string_view header, std::string_view name);
