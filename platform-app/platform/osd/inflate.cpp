#include "platform/osd/inflate.h"

namespace {

constexpr int kMaxBits = 15;
constexpr int kLiteralCodes = 288;
constexpr int kDistanceCodes = 30;
constexpr int kCodeLengthCodes = 19;

// Base lengths and extra bits of length codes 257 to 285, base distances and extra bits of
// distance codes 0 to 29.
constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                      15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                      67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block sends its code-length code lengths.
constexpr uint8_t kCodeLengthOrder[kCodeLengthCodes] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                        11, 4,  12, 3, 13, 2, 14, 1, 15};

// A canonical Huffman code: how many codes of each length, and the symbols in code order.
struct Huffman {
    uint16_t count[kMaxBits + 1];
    uint16_t symbol[kLiteralCodes];
};

class Decoder {
public:
    Decoder(const uint8_t* in, size_t in_size, uint8_t* out, size_t out_size)
        : m_in(in), m_in_size(in_size), m_out(out), m_out_size(out_size)
    {
    }

    bool run()
    {
        bool last = false;
        while (!last && m_ok) {
            last = bits(1) == 1;
            const uint32_t type = bits(2);
            if (type == 0) {
                stored();
            } else if (type == 1) {
                fixed();
            } else if (type == 2) {
                dynamic();
            } else {
                m_ok = false;
            }
        }
        return m_ok && m_out_pos == m_out_size;
    }

private:
    uint32_t bits(int need)
    {
        uint32_t value = m_bit_buffer;
        while (m_bit_count < need) {
            if (m_in_pos >= m_in_size) {
                m_ok = false;
                return 0;
            }
            value |= static_cast<uint32_t>(m_in[m_in_pos++]) << m_bit_count;
            m_bit_count += 8;
        }
        m_bit_buffer = value >> need;
        m_bit_count -= need;
        return value & ((1U << need) - 1U);
    }

    void put(uint8_t byte)
    {
        if (m_out_pos >= m_out_size) {
            m_ok = false;
            return;
        }
        m_out[m_out_pos++] = byte;
    }

    void stored()
    {
        m_bit_buffer = 0;  // to the next byte boundary
        m_bit_count = 0;
        if (m_in_pos + 4 > m_in_size) {
            m_ok = false;
            return;
        }
        const uint32_t length = m_in[m_in_pos] | static_cast<uint32_t>(m_in[m_in_pos + 1]) << 8;
        const uint32_t check = m_in[m_in_pos + 2] | static_cast<uint32_t>(m_in[m_in_pos + 3]) << 8;
        m_in_pos += 4;
        if ((length ^ 0xFFFFU) != check || m_in_pos + length > m_in_size) {
            m_ok = false;
            return;
        }
        for (uint32_t i = 0; i < length && m_ok; ++i) {
            put(m_in[m_in_pos++]);
        }
    }

    // Builds `h` from `n` code lengths; false when the lengths over-subscribe the code space.
    static bool build(Huffman& h, const uint8_t* lengths, int n)
    {
        for (uint16_t& c : h.count) {
            c = 0;
        }
        for (int s = 0; s < n; ++s) {
            ++h.count[lengths[s]];
        }
        int left = 1;
        for (int len = 1; len <= kMaxBits; ++len) {
            left = left * 2 - h.count[len];
            if (left < 0) {
                return false;
            }
        }
        uint16_t offsets[kMaxBits + 1] = {};
        for (int len = 1; len < kMaxBits; ++len) {
            offsets[len + 1] = static_cast<uint16_t>(offsets[len] + h.count[len]);
        }
        for (int s = 0; s < n; ++s) {
            if (lengths[s] != 0) {
                h.symbol[offsets[lengths[s]]++] = static_cast<uint16_t>(s);
            }
        }
        return true;
    }

    // One symbol, read a bit at a time (codes are sent most significant bit first).
    int decode(const Huffman& h)
    {
        int code = 0;
        int first = 0;
        int index = 0;
        for (int len = 1; len <= kMaxBits; ++len) {
            code |= static_cast<int>(bits(1));
            if (!m_ok) {
                return -1;
            }
            const int count = h.count[len];
            if (code - count < first) {
                return h.symbol[index + (code - first)];
            }
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        m_ok = false;  // no code of any length matched
        return -1;
    }

    void codes(const Huffman& literals, const Huffman& distances)
    {
        for (;;) {
            const int symbol = decode(literals);
            if (!m_ok || symbol == 256) {
                return;
            }
            if (symbol < 256) {
                put(static_cast<uint8_t>(symbol));
                continue;
            }
            const int l = symbol - 257;
            if (l >= 29) {
                m_ok = false;
                return;
            }
            const uint32_t length = kLengthBase[l] + bits(kLengthExtra[l]);
            const int d = decode(distances);
            if (!m_ok || d < 0 || d >= kDistanceCodes) {
                m_ok = false;
                return;
            }
            const uint32_t distance = kDistanceBase[d] + bits(kDistanceExtra[d]);
            if (!m_ok || distance > m_out_pos) {
                m_ok = false;
                return;
            }
            for (uint32_t i = 0; i < length && m_ok; ++i) {
                put(m_out[m_out_pos - distance]);
            }
        }
    }

    void fixed()
    {
        uint8_t lengths[kLiteralCodes];
        int s = 0;
        for (; s < 144; ++s) {
            lengths[s] = 8;
        }
        for (; s < 256; ++s) {
            lengths[s] = 9;
        }
        for (; s < 280; ++s) {
            lengths[s] = 7;
        }
        for (; s < kLiteralCodes; ++s) {
            lengths[s] = 8;
        }
        Huffman literals{};
        Huffman distances{};
        (void)build(literals, lengths, kLiteralCodes);
        for (s = 0; s < kDistanceCodes; ++s) {
            lengths[s] = 5;
        }
        (void)build(distances, lengths, kDistanceCodes);
        codes(literals, distances);
    }

    void dynamic()
    {
        const int literal_count = static_cast<int>(bits(5)) + 257;
        const int distance_count = static_cast<int>(bits(5)) + 1;
        const int code_length_count = static_cast<int>(bits(4)) + 4;
        if (!m_ok || literal_count > 286 || distance_count > kDistanceCodes) {
            m_ok = false;
            return;
        }
        uint8_t lengths[kLiteralCodes + kDistanceCodes] = {};
        for (int i = 0; i < code_length_count; ++i) {
            lengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(bits(3));
        }
        Huffman code_lengths{};
        if (!build(code_lengths, lengths, kCodeLengthCodes)) {
            m_ok = false;
            return;
        }
        int at = 0;
        while (at < literal_count + distance_count && m_ok) {
            const int symbol = decode(code_lengths);
            if (symbol < 0) {
                return;
            }
            if (symbol < 16) {
                lengths[at++] = static_cast<uint8_t>(symbol);
                continue;
            }
            uint8_t repeated = 0;
            uint32_t times = 0;
            if (symbol == 16) {
                if (at == 0) {
                    m_ok = false;
                    return;
                }
                repeated = lengths[at - 1];
                times = 3 + bits(2);
            } else if (symbol == 17) {
                times = 3 + bits(3);
            } else {
                times = 11 + bits(7);
            }
            if (at + static_cast<int>(times) > literal_count + distance_count) {
                m_ok = false;
                return;
            }
            for (uint32_t i = 0; i < times; ++i) {
                lengths[at++] = repeated;
            }
        }
        Huffman literals{};
        Huffman distances{};
        if (!m_ok || lengths[256] == 0 || !build(literals, lengths, literal_count) ||
            !build(distances, lengths + literal_count, distance_count)) {
            m_ok = false;
            return;
        }
        codes(literals, distances);
    }

    const uint8_t* m_in;
    size_t m_in_size;
    size_t m_in_pos = 0;
    uint32_t m_bit_buffer = 0;
    int m_bit_count = 0;
    uint8_t* m_out;
    size_t m_out_size;
    size_t m_out_pos = 0;
    bool m_ok = true;
};

}  // namespace

bool Inflate(const uint8_t* in, size_t in_size, uint8_t* out, size_t out_size)
{
    return Decoder(in, in_size, out, out_size).run();
}
