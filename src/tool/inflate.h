// Raw DEFLATE decoding (stored, fixed and dynamic Huffman blocks) and the CRC-32 zip entries
// carry, so the tool reads deflated entries with no library beside the system's. Pure byte
// work, streamed: neither the input nor the output is ever held whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

// Fills `buffer` with up to `capacity` more compressed bytes; 0 at the end of the input (or on
// a read failure).
using InflateInput = std::function<size_t(uint8_t* buffer, size_t capacity)>;
// Takes the next piece of the output; false stops the decoding.
using InflateOutput = std::function<bool(const uint8_t* data, size_t size)>;

// Decodes one raw DEFLATE stream up to its final block. False when the stream is malformed or
// ends early, would produce more than `limit` bytes, or `output` refused a piece. Bytes after
// the final block are left unread or ignored.
bool Inflate(const InflateInput& input, const InflateOutput& output, uint64_t limit);

// The CRC-32 (ISO-HDLC, as zip uses it) of `size` more bytes, continuing from `crc` (0 to start).
uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size);
