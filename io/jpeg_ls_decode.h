// JPEG-LS (lossless and near-lossless) pixel data through CharLS.
#pragma once

#include <cstddef>
#include <cstdint>

#include "io/dicom_pixel_data.h"

// Decodes one JPEG-LS codestream for a frame of header `h` into `out` (bytes8 for up to 8
// bits a sample, words16 above; colour interleaved by pixel). False when the fragment is
// not JPEG-LS; false with out.refusal set when it is but does not match the header or does
// not decode.
bool jpeg_ls_decode(const uint8_t* f, size_t length, const dicom_header_t& h, decoded_frame& out);
