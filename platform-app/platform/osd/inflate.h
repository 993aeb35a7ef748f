#pragma once

// A small decoder of raw DEFLATE streams (RFC 1951: stored, fixed and dynamic Huffman blocks), for
// the compressed OSD font blocks. Every read and write is bounds-checked: a damaged stream is
// refused, never read or written past its ends.

#include <cstddef>
#include <cstdint>

// Decodes `in` (`in_size` bytes) into `out`, which must receive exactly `out_size` bytes. False
// when the stream is damaged, ends early or does not produce exactly `out_size` bytes.
bool Inflate(const uint8_t* in, size_t in_size, uint8_t* out, size_t out_size);
