// DICOM RLE: a 64-byte header of sixteen little-endian 32-bit words (segment count, then
// segment offsets from the start of the fragment) and one PackBits segment per byte plane.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Decodes one RLE fragment of rows x columns pixels with `samples` samples each.
//   bits_allocated 8: one segment per sample, segment s holds byte s of every pixel;
//     `out` gets rows x columns x samples bytes, samples interleaved.
//   bits_allocated 16 or 32: two or four segments per sample, the most significant byte's
//     segment first; `out` gets rows x columns x samples host-order words (as bytes).
// The first segment must start at offset 64 and every segment must fill all its pixels;
// false otherwise, or for any other sample format. Never reads outside the fragment.
bool rle_decode_frame(const uint8_t* fragment, size_t length, int rows, int columns,
                      int samples, int bits_allocated, std::vector<uint8_t>& out);
