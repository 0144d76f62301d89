// Ordinary image files: single files, numbered sequences and multi-page files, read
// through libtiff (8- and 16-bit grey TIFF) or the wxImage handlers (everything else).
#pragma once

#include <string>

// Loads an image file into the record. `index` -1 opens a data set for the first time:
// a numbered name is scanned for its neighbours (file_type -4) and a multi-page file
// becomes a page sequence (file_type -5). Any other index is the frame to load (file
// number for -4, page for -5). Returns true when an image was loaded; on any failure the
// record is left exactly as it was. A file that is no image at all fails silently (the
// start-up chain offers every file here first); a damaged image gets a warning.
bool load_image_file(char* path, int index);

// Puts the image handlers the loader uses at the front of wx's list in its order: BMP,
// JPEG, PNG, PNM, TIFF. Other registered handlers (GIF, ICO, XPM, ...) stay after them.
void register_image_handlers();

// Why the toolkit must not be given this PNM file (a header without size, a largest sample
// value of 0, or samples above 255, which its reader turns into zeros), or empty when it is
// no PNM file or one the toolkit reads.
std::string pnm_header_fault(const std::string& path);

// The path of the file that holds frame `index` of the open data set (the numbered
// member for a sequence, the file itself otherwise).
std::string image_frame_path(const std::string& path, int index);
