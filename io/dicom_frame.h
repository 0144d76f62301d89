// One frame of a walked DICOM file: where its samples lie (in the file, or decoded from
// encapsulated fragments) and their conversion to the record's values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>
#include <wx/string.h>

#include "io/dicom_walk.h"

// Where the samples of the frame come from.
struct frame_source {
    const uint8_t* raw = nullptr;  // uncompressed samples in the file
    decoded_frame decoded;         // or the output of the decoder chain
    bool uncompressed = false;
    std::vector<uint8_t> expanded;  // YBR_FULL_422 pairs spread to three samples a pixel
};

// The byte offset in the file of the walk's frame in pixel data stored uncompressed, one
// frame `frame_size` bytes; `in_frames`: the walk's index is a frame (from 1) of this
// multi-frame file, else the element's first frame is meant. Empty, with `offset` set,
// when the frame lies wholly in the file, else the warning saying why not.
wxString uncompressed_frame_offset(const dicom_header_walk& w, bool in_frames, size_t frame_size, size_t& offset);

// Finds the samples of the walk's frame (`in_frames` as above): in the file for uncompressed data, or through the decoder chain for
// encapsulated and short pixel data. `available` becomes the frames the pixel data hold
// where that can be counted. False, warned, when the frame cannot be had.
bool locate_frame(const dicom_header_walk& w, bool in_frames, frame_source& src, int64_t& available);

// Converts every sample s of the frame to trunc((s x slope + intercept) x 16) into `out`
// and returns the smallest and largest result; false when a 32-bit value does not fit.
bool convert_samples(const frame_source& src, const dicom_header_t& h, bool big_endian,
                     int* out, size_t count, int& lo, int& hi);

// PALETTE COLOR: each stored index (value x 16) through the walk's red, green and blue
// tables into interleaved RGB x 16; false, warned, for missing or short tables.
bool apply_palette(const dicom_header_walk& w, const int* index, size_t n, int* rgb, int& lo, int& hi);

// YBR_FULL (or, with `pairs`, YBR_FULL_422) to RGB in place over interleaved samples.
void ybr_to_rgb(int* samples, size_t pixels, int bits, bool pairs);

// A double to int, truncated toward zero and held within the int range.
int clamp_to_int(double v);
