// JPEG 2000 codestreams (J2K, starting FF 4F) through OpenJPEG, decoded from memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Decodes a J2K codestream at full resolution with all quality layers. Accepts only an
// image whose origin is 0, 0, whose size is columns x rows and which has exactly one
// component, unsubsampled, of the given signedness; its samples go to `out`, row by row.
// The size is checked from the header before any sample is decoded. False for anything
// else, for a JP2 file and for a damaged codestream.
bool jpeg2000_decode_grey(const uint8_t* data, size_t length, int rows, int columns,
                          bool is_signed, std::vector<int32_t>& out);
