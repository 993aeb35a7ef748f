#pragma once

// Splitting one fuzz input into the pieces a target needs: leading bytes as choices and numbers,
// the rest as a text or a byte stream. Reading past the end yields zeros.

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantor::fuzz {

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    uint64_t u64()
    {
        uint64_t value = 0;
        for (int i = 0; i < 8; ++i) {
            value = (value << 8U) | byte();
        }
        return value;
    }
    // Up to the next NUL (consumed) or the end.
    std::string text()
    {
        std::string out;
        while (m_pos < m_size && m_data[m_pos] != 0) {
            out.push_back(static_cast<char>(m_data[m_pos++]));
        }
        if (m_pos < m_size) {
            ++m_pos;
        }
        return out;
    }
    const uint8_t* rest() const { return m_data + m_pos; }
    std::size_t rest_size() const { return m_size - m_pos; }

private:
    const uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

}  // namespace vantor::fuzz
