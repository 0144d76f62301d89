// JPEG 2000 codestreams (J2K, starting FF 4F, or wrapped in a JP2 file) through OpenJPEG,
// decoded from memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Decodes a J2K codestream at full resolution with all quality layers. Accepts only an
// image whose origin is 0, 0, whose size is columns x rows and which has exactly
// `components` components (1, or 3 for colour), unsubsampled, of the given signedness and
// a precision of 1 .. max_bits; colour coded with the codestream's component transform
// (YBR_RCT, YBR_ICT) comes back as RGB, and `transformed` (when given) says whether the
// codestream applied that transform (without it, colour comes back as stored). Samples go to `out`, row by row, components
// interleaved by pixel. Every property is checked from the codestream's header before any
// sample is decoded, and again after. False for anything else and for a damaged
// codestream; `why` (when given) then says which property disagreed, if one did.
// Whether `data` starts as a J2K codestream (FF 4F) or a JP2 file (its signature box).
bool is_jpeg2000_stream(const uint8_t* data, size_t length);

bool jpeg2000_decode(const uint8_t* data, size_t length, int rows, int columns, int components,
                     bool is_signed, int max_bits, std::vector<int32_t>& out,
                     std::string* why = nullptr, bool* transformed = nullptr);
