// The libtiff path of the image-file loader: 8- and 16-bit single-sample grey TIFF,
// read at full precision with resolution, pages and sample range.
#pragma once

#include <memory>
#include <string>

#include "core/codes.h"

// What a loader has read, kept apart from the record until the whole frame is in.
struct staged_image {
    int width = 0, height = 0;
    int data_colour = 0, channels = 1;
    std::unique_ptr<int[]> raw;
    int data_min = 100000, data_max = -100000;
    bool has_centre = false, has_range = false;  // the loader proposes a window
    int window_centre = 0, window_range = 1;
    bool has_spacing = false;
    double pixel_width = 0.1, pixel_height = 0.1;
    int tiff_output = -1;  // -1 leaves the record's flag alone
    int tiff_offset = 0;
};

// Page bookkeeping shared with the caller: on a first open with one frame the page count
// decides between a single file (-4) and a page sequence (-5).
struct page_state {
    int file_type = FILE_IMAGE, frames = 1, first_frame = 0, frame = 0;
};

enum class tiff_read { loaded, unsuitable, damaged };

// True when the file starts with a TIFF byte-order mark and magic number.
bool has_tiff_magic(const std::string& path);

// Reads page `index` (or the default page on a first open, index -1) of a grey TIFF.
// `unsuitable`: not 8/16-bit single-sample grey, tiled, or the page is missing; the
// caller falls back to the wxImage path. `damaged`: a warning has been logged.
// `window_centre` is the record's current centre, lowered for CT data without limits.
tiff_read read_grey_tiff(const std::string& path, int index, int window_centre, page_state& pages,
                         staged_image& out);
