// The 16-bit grey TIFF writer for processed images.
#pragma once

#include <wx/filename.h>

// How processed values become 16-bit words.
enum class tiff_form {
    // Values clamped to data_min..data_max.
    direct,
    // Value + 32768, described as "Voxmira RMAR CT Data" with the position and
    // orientation in PageName; the image loader reads it back to the same values.
    ct,
    // The save commands: the range shifted by a power of two to start at or above 0 and
    // stretched by the largest power of two that keeps it in 16 bits (tiff_scaling).
    scaled,
};

// Writes processed_image (proc_width x proc_height, the first value of each pixel) as a
// one-page 16-bit grey TIFF in `form`, one row per strip, resolution from the pixel
// spacing. Every written word is clamped to 0..65535. Written through an output_file:
// returns false (with a warning) when there is nothing to write or the file was refused
// or not written whole, and then no file is left.
bool save_processed_image_as_tiff(wxFileName name, tiff_form form);

// The offset o and factor s of the scaled form for a data range.
void tiff_scaling(int data_min, int data_max, int& offset, int& factor);
