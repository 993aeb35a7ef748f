#include <cstdio>
#include <cstring>
#include <exception>
#include <rapidxml/rapidxml.hpp>
#include <vector>

#include "camcontrol/Camcontrol.h"
#include "camcontrol/ndi_ptz_elements.h"

// One PTZ metadata frame: checked, copied (the parser works in place), parsed, and its first
// top-level element handled through the element table, all under the capture buffer's lock.

namespace {

// The NDI runtime takes at most 64 KiB from a receiver; longer text is no PTZ command.
constexpr std::size_t kMaxText = std::size_t{64} * 1024;
// PTZ commands are one element; the parser recurses once per level, so depth is bounded first.
constexpr int kMaxDepth = 32;

// The deepest element nesting of `text` (an upper bound: every "<name" opens, every "</" and
// "/>" closes).
int nesting_depth(const char* text)
{
    int depth = 0;
    int deepest = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if ((p[0] == '<' && p[1] == '/') || (p[0] == '/' && p[1] == '>')) {
            --depth;
        } else if (p[0] == '<' && p[1] != '?' && p[1] != '!') {
            ++depth;
            deepest = depth > deepest ? depth : deepest;
        }
    }
    return deepest;
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
        for (const char* number : row->numbers) {
            const char* value = number == nullptr ? nullptr : request.attribute(number);
            if (value != nullptr && !ndi_ptz_is_number(value)) {
                std::printf("ndi ptz: %s: %s is not a number, ignored\n", row->name, number);
                std::fflush(stdout);
                return;
            }
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
