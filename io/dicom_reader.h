// The DICOM reader: one frame of a DICOM data set into the image record, and discovery of
// the frames of a data set (multi-frame file, numbered files, or the files of a folder).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <wx/string.h>

#include "io/dicom_writer.h"

// Loads frame `index` of the data set at `path` (local 8-bit encoding) into `info`.
// index -1 opens the data set: it discovers the frames, sets size, colour, window and a
// fresh raw_image. Any other index is a frame in the numbering discovery set (file number
// of a numbered series, position in the sorted folder listing, 1-based frame of a
// multi-frame file). The caller's path is never written to.
//
// Returns true on success. Returns false, with `info` unchanged, when the file cannot be
// opened, is not a DICOM image, is truncated or corrupt, holds compressed data no decoder
// accepts, or (a frame after the first open) holds an image of another size or kind than
// the open data set; every failure of a file that is evidently DICOM logs a warning.
bool load_dicom_file(char* path, int index);

// Turns info.orientation (row direction cosines, then column) into three angles in
// degrees: a0 about z, a1 from the row cosine's z part, a2 about the row direction.
void convert_orientation(double* a0, double* a1, double* a2);

// A frame of a DICOM data set as the data-set writer needs it: the file's bytes (inflated
// for a deflated data set), its sample format and identities, and where the frame lies.
struct dicom_located_frame {
    std::string file;  // the file holding the frame
    const uint8_t* data = nullptr;
    size_t size = 0;
    int samples = 0, columns = 0, rows = 0, bits_allocated = 0;
    bool encapsulated = false;  // compressed fragments, not samples in place
    uint32_t pixel_length = 0;  // of the pixel data element
    // Samples stored in place, of 8 bits or more, the element as long as a frame at least:
    // then frame_fault is empty and layout.pixel_offset the frame's first sample, or
    // frame_fault says why the frame is not in the file.
    bool stored_whole = false;
    wxString frame_fault;
    dicom_frame_layout layout;  // what a written copy needs; pixel_offset as above
};

// Walks the file of frame `index` of the open data set to its pixel data (as
// load_dicom_file does, without loading anything) and hands the frame to `use` while its
// bytes are held. False, warned as a load would be, when the file cannot be opened or
// read as DICOM of a format the program reads; else what `use` returns.
bool locate_dicom_frame(char* path, int index, const std::function<bool(const dicom_located_frame&)>& use);
