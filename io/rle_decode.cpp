#include "io/rle_decode.h"

#include <cstring>

#include "core/byte_order.h"

// Expands the PackBits segment between `offset` and `end` into `n` bytes spaced `stride`
// apart. A run or literal that would overflow the plane or read past the segment is
// passed over (runs by their two bytes, literals by their control byte) rather than
// written, but counted: the segment must decode to exactly `n` bytes, so a header whose
// rows or columns are not the stream's is refused instead of shown sheared.
static bool decode_segment(const uint8_t* f, size_t end, size_t offset, size_t n,
                           uint8_t* out, size_t stride)
{
    size_t pos = offset, count = 0, excess = 0;
    while (pos < end) {
        const int c = (int8_t)f[pos];
        if (c == -128) {
            pos++;
        } else if (c < 0) {
            const size_t run = (size_t)(1 - c);
            if (pos + 1 < end) {
                if (count + run <= n) {
                    const uint8_t b = f[pos + 1];
                    for (size_t i = 0; i < run; i++) out[(count + i) * stride] = b;
                    count += run;
                } else {
                    excess += run;
                }
            }
            pos += 2;
        } else {
            const size_t literal = (size_t)c + 1;
            if (literal > end - pos - 1) {
                pos += 1;  // a pad byte or a cut literal: nothing complete follows
            } else {
                if (count + literal <= n) {
                    for (size_t i = 0; i < literal; i++) out[(count + i) * stride] = f[pos + 1 + i];
                    count += literal;
                } else {
                    excess += literal;
                }
                pos += 1 + literal;
            }
        }
    }
    return count == n && excess == 0;
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
        // A segment ends where the next begins (or with the fragment).
        size_t end = length;
        if (s + 1 < segments) {
            const uint32_t next = le32(fragment + 8 + 4 * s);
            if (next > offset && next < end) end = next;
        }
        if (!decode_segment(fragment, end, offset, n, out.data() + byte, stride)) return false;
    }
    return true;
}
