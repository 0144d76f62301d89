// Extended (12-bit) DCT JPEG, DICOM's process 2/4 for CT and MR archives, through the
// 12-bit IJG library that GDCM ships.
#pragma once

#include <cstddef>
#include <cstdint>

#include "io/dicom_pixel_data.h"

// Decodes one 12-bit DCT JPEG stream (baseline-style, extended or progressive frame) of a
// grey frame with 16 bits allocated into `out.words` (one word a sample; signed data are
// sign-extended from bit 11). False when the stream is not a 12-bit DCT JPEG; false with
// `out.refusal` set when it is but describes another image than the header, or does not
// decode cleanly (a stream the library had to patch over is refused, not shown).
bool jpeg12_decode(const uint8_t* f, size_t length, const dicom_header_t& h, decoded_frame& out);
