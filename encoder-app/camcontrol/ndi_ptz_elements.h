#pragma once

#include <array>
#include <cstddef>

class Camcontrol;
namespace rapidxml {
template <class Ch> class xml_node;
}

// One NDI PTZ metadata element being handled: the element, and the capture buffer of the VISCA
// engine it writes into (locked by the caller for the whole call).
struct ndi_ptz_request {
    Camcontrol& cam;
    int index;
    const rapidxml::xml_node<char>& element;

    // The attribute's value (matched case-sensitively), or nullptr when it is missing.
    const char* attribute(const char* name) const;
    bool has(const char* name) const { return attribute(name) != nullptr; }
};

// One row of the element table: the element's name (matched case-insensitively), what it
// writes, and its real and integer attributes: when one of them is present with a text that is
// not such a number, the element is ignored (an empty text reads as 0).
struct ndi_ptz_element {
    const char* name;
    void (*handle)(const ndi_ptz_request& request);
    std::array<const char*, 4> reals;
    std::array<const char*, 4> integers;
};

// The elements in the order they are matched.
extern const ndi_ptz_element kNdiPtzElements[];
extern const std::size_t kNdiPtzElementCount;

// The row for `name`, or nullptr for an element outside the table.
const ndi_ptz_element* ndi_ptz_find_element(const char* name);
