#include "io/rle_decode.h"

#include <cstring>

#include "core/byte_order.h"

// Expands one PackBits segment starting at `offset` into `n` bytes spaced `stride` apart.
// A run or literal that would overflow the plane or read past the fragment is passed
// over (runs by their two bytes, literals by their control byte) rather than written.
static bool decode_segment(const uint8_t* f, size_t length, size_t offset, size_t n,
                           uint8_t* out, size_t stride)
{
    size_t pos = offset, count = 0;
    while (count < n && pos < length) {
        const int c = (int8_t)f[pos];
        if (c == -128) {
            pos++;
        } else if (c < 0) {
            const size_t run = (size_t)(1 - c);
            if (count + run <= n && pos + 1 < length) {
                const uint8_t b = f[pos + 1];
                for (size_t i = 0; i < run; i++) out[(count + i) * stride] = b;
                count += run;
            }
            pos += 2;
        } else {
            const size_t literal = (size_t)c + 1;
            if (count + literal <= n && literal <= length - pos - 1) {
                for (size_t i = 0; i < literal; i++) out[(count + i) * stride] = f[pos + 1 + i];
                count += literal;
                pos += 1 + literal;
            } else {
                pos += 1;
            }
        }
    }
    return count == n;
}

bool rle_decode_frame(const uint8_t* fragment, size_t length, int rows, int columns,
                      int samples, int bits_allocated, std::vector<uint8_t>& out)
{
    if (!fragment || length < 64 || rows <= 0 || columns <= 0 || samples <= 0) return false;
    if (bits_allocated != 8 && bits_allocated != 16 && bits_allocated != 32) return false;
    const int bytes = bits_allocated / 8;
    const uint32_t segments = le32(fragment);
    if (segments != (uint32_t)(samples * bytes) || segments > 15) return false;
    if (le32(fragment + 4) != 64) return false;
    const size_t n = (size_t)rows * columns;
    const size_t stride = (size_t)samples * bytes;
    // A two-byte run gives at most 128 bytes: a segment cannot fill more than 64 bytes per
    // byte it holds, so the header alone never sizes the output.
    for (uint32_t s = 0; s < segments; s++) {
        const uint32_t offset = le32(fragment + 4 + 4 * s);
        if (offset < 64 || offset >= length || n / 64 > length - offset) return false;
    }
    out.assign(n * stride, 0);
    for (uint32_t s = 0; s < segments; s++) {
        const uint32_t offset = le32(fragment + 4 + 4 * s);
        // Segment s of wider data holds byte s % bytes of sample s / bytes, the most
        // significant first; it goes where the host keeps that byte of a word.
        size_t byte;
        if (bytes == 1) {
            byte = s;
        } else {
            const size_t sample = s / bytes;
            const size_t significance = bytes - 1 - s % bytes;  // 0: the lowest byte
            uint16_t probe = 1;
            uint8_t first;
            std::memcpy(&first, &probe, 1);
            const bool little = first == 1;
            byte = sample * bytes + (little ? significance : bytes - 1 - significance);
        }
        if (!decode_segment(fragment, length, offset, n, out.data() + byte, stride)) return false;
    }
    return true;
}
