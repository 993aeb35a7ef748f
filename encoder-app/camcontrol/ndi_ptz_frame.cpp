#include <cctype>
#include <cstdio>
#include <cstring>
#include <exception>
#include <rapidxml/rapidxml.hpp>
#include <vector>

#include "camcontrol/Camcontrol.h"
#include "camcontrol/ndi_ptz_elements.h"
#include "camcontrol/ndi_ptz_values.h"

// One PTZ metadata frame: checked, copied (the parser works in place), parsed, and its first
// top-level element handled through the element table, all under the capture buffer's lock.

namespace {

// The NDI runtime takes at most 64 KiB from a receiver; longer text is no PTZ command.
constexpr std::size_t kMaxText = std::size_t{64} * 1024;
// PTZ commands are one element; the parser recurses once per level, so depth is bounded first.
constexpr int kMaxDepth = 32;

// Skips from `p` past the first `end` marker; the end of the text when there is none.
const char* skip_past(const char* p, const char* end)
{
    const char* found = std::strstr(p, end);
    return found == nullptr ? p + std::strlen(p) : found + std::strlen(end);
}

unsigned char uc(char c)
{
    return static_cast<unsigned char>(c);
}

// Skips a document type declaration, whose internal subset in brackets may hold '>'.
const char* skip_doctype(const char* p)
{
    int brackets = 0;
    for (; *p != '\0'; ++p) {
        if (*p == '[') {
            ++brackets;
        } else if (*p == ']') {
            --brackets;
        } else if (*p == '>' && brackets <= 0) {
            return p + 1;
        }
    }
    return p;
}

// Skips a start tag from its name to its '>' and reports whether it closed itself ("/>"). Quoted
// attribute values are passed over whole: a "/>" or '>' inside one ends nothing.
const char* skip_start_tag(const char* p, bool& self_closing)
{
    self_closing = false;
    for (; *p != '\0'; ++p) {
        if (*p == '"' || *p == '\'') {
            const char* close = std::strchr(p + 1, *p);
            if (close == nullptr) {
                return p + std::strlen(p);
            }
            p = close;
        } else if (*p == '>') {
            self_closing = p[-1] == '/';
            return p + 1;
        }
    }
    return p;
}

// The deepest element nesting of `text`, read the way the parser reads it: elements open at a
// start tag and close at an end tag or a self-closing start tag; text, attribute values,
// comments, CDATA sections, processing instructions and the document type close nothing. A text
// that the parser would refuse is still bounded: every start tag counts until something closes it.
int nesting_depth(const char* text)
{
    int depth = 0;
    int deepest = 0;
    const char* p = text;
    while (*p != '\0') {
        if (*p != '<') {
            ++p;
        } else if (std::strncmp(p, "<!--", 4) == 0) {
            p = skip_past(p + 4, "-->");
        } else if (std::strncmp(p, "<![CDATA[", 9) == 0) {
            p = skip_past(p + 9, "]]>");
        } else if (p[1] == '?') {
            p = skip_past(p + 2, "?>");
        } else if (std::strncmp(p, "<!DOCTYPE", 9) == 0 && std::isspace(uc(p[9])) != 0) {
            p = skip_doctype(p + 9);
        } else if (p[1] == '!') {
            p = skip_past(p + 2, ">");  // any other declaration ends at its first '>'
        } else if (p[1] == '/') {
            depth = depth > 0 ? depth - 1 : 0;
            p = skip_past(p + 2, ">");
        } else {
            bool self_closing = false;
            p = skip_start_tag(p + 1, self_closing);
            deepest = depth + 1 > deepest ? depth + 1 : deepest;
            if (!self_closing) {
                ++depth;
            }
        }
    }
    return deepest;
}

// False, with a line, when a numeric attribute of the row is present but not such a number.
bool numbers_are_read(const ndi_ptz_request& request, const ndi_ptz_element& row)
{
    struct Kind {
        const std::array<const char*, 4>& names;
        bool (*is_read)(const char*);
        const char* what;
    };
    const Kind kinds[] = {{row.reals, ndi_ptz_is_number, "a number"},
                          {row.integers, ndi_ptz_is_integer, "an integer"}};
    for (const Kind& kind : kinds) {
        for (const char* name : kind.names) {
            const char* value = name == nullptr ? nullptr : request.attribute(name);
            if (!kind.is_read(value)) {
                std::printf("ndi ptz: %s: %s is not %s, ignored\n", row.name, name, kind.what);
                std::fflush(stdout);
                return false;
            }
        }
    }
    return true;
}

void drop(const char* why)
{
    std::printf("ndi ptz: metadata %s, dropped\n", why);
    std::fflush(stdout);
}

}  // namespace

void Camcontrol::camcontrol_capture_ndi(NDIlib_metadata_frame_t* frame)
{
    if (frame == nullptr || frame->p_data == nullptr || frame->length <= 0) {
        drop("frame without text");
        return;
    }
    const auto length = static_cast<std::size_t>(frame->length);
    const void* end = std::memchr(frame->p_data, '\0', length);
    if (end == nullptr) {
        drop("text not terminated within its length");
        return;
    }
    const auto size = static_cast<std::size_t>(static_cast<const char*>(end) - frame->p_data);
    if (size > kMaxText) {
        drop("text longer than 64 KiB");
        return;
    }
    std::vector<char> text(frame->p_data, frame->p_data + size + 1);
    if (nesting_depth(text.data()) > kMaxDepth) {
        drop("nested too deeply");
        return;
    }

    int index = -1;
    const auto lock = m_visca.lock_capture_buffer(index);
    // The parser reports malformed text (and memory exhaustion) by throwing: caught here, at its
    // boundary.
    try {
        rapidxml::xml_document<char> document;
        document.parse<0>(text.data());
        const rapidxml::xml_node<char>* element = document.first_node();
        if (element == nullptr) {
            return;
        }
        const ndi_ptz_element* row = ndi_ptz_find_element(element->name());
        if (row == nullptr) {
            return;
        }
        const ndi_ptz_request request{*this, index, *element};
        if (!numbers_are_read(request, *row)) {
            return;
        }
        row->handle(request);
    } catch (const rapidxml::parse_error& error) {
        std::printf("ndi ptz: metadata is not well-formed XML (%s), dropped\n", error.what());
        std::fflush(stdout);
    } catch (const std::exception& error) {
        std::printf("ndi ptz: metadata not parsed (%s), dropped\n", error.what());
        std::fflush(stdout);
    }
}
