// The all-frames writer: each processed frame goes out as a 16-bit TIFF into a folder
// beside the frame's source file.
#pragma once

#include <string>

#include "io/tiff_writer.h"

// The output path for a frame read from `source`: the source's folder plus "proc"
// (metal_iteration < 0), "nmar", "bmar" or "refined" by the metal method, same name.
// Empty when that would be the source file itself.
std::string frame_output_path(const std::string& source);

// The form of an unscaled frame: CT for DICOM data (file types 0, 1, 2) and for image
// files loaded with the CT offset (-32768), else direct.
tiff_form unscaled_tiff_form(int file_type, int tiff_offset);

// Writes processed_image for frame `index`, read from `source`, in `form` to
// frame_output_path(source) (pages of a multi-page file as NAME_%04i), creating the
// folder. False, with a warning, when there is no output folder or nothing was written.
bool write_processed_frame(const std::string& source, int index, tiff_form form);
