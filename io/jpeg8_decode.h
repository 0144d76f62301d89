// Baseline and extended 8-bit DCT JPEG of DICOM frames, through libjpeg(-turbo).
#pragma once

#include <cstddef>
#include <cstdint>

#include "io/dicom_pixel_data.h"

// Decodes one 8-bit DCT JPEG stream of a frame with 8 bits allocated (grey also with 16):
// grey into bytes (16-bit words for 16 allocated), colour into interleaved RGB. Colour is converted from YCbCr as the stream's JFIF or
// Adobe marker says; a stream with neither is taken as the header's photometric
// interpretation says (RGB: stored as RGB; YBR: stored as YCbCr), as DCMTK does, where the
// library alone would take every three-component stream for YCbCr. False when the stream
// is not an 8-bit DCT JPEG; false with `out.refusal` when it does not match the header or
// does not decode cleanly.
bool jpeg8_decode(const uint8_t* f, size_t length, const dicom_header_t& h, decoded_frame& out);
