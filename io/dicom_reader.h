// The DICOM reader: one frame of a DICOM data set into the image record, and discovery of
// the frames of a data set (multi-frame file, numbered files, or the files of a folder).
#pragma once

// Loads frame `index` of the data set at `path` (local 8-bit encoding) into `info`.
// index -1 opens the data set: it discovers the frames, sets size, colour, window and a
// fresh raw_image. Any other index is a frame in the numbering discovery set (file number
// of a numbered series, position in the sorted folder listing, 1-based frame of a
// multi-frame file). The caller's path is never written to.
//
// With writing_frames set the frame is not loaded: the processed frame is written as a new
// file beside it (write_dicom_frame, or the CT-form TIFF when only tiff_output is set).
// False then means nothing was written; the data-set run says whether the run goes on.
//
// Returns true on success. Returns false, with `info` unchanged, when the file cannot be
// opened, is not a DICOM image, is truncated or corrupt, holds compressed data no decoder
// accepts, or (a frame after the first open) holds an image of another size or kind than
// the open data set; every failure of a file that is evidently DICOM logs a warning.
bool load_dicom_file(char* path, int index);

// Turns info.orientation (row direction cosines, then column) into three angles in
// degrees: a0 about z, a1 from the row cosine's z part, a2 about the row direction.
void convert_orientation(double* a0, double* a1, double* a2);
