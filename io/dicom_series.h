// Which files make up a DICOM data set: a numbered series, else every file of the
// folder, else the one file.
#pragma once

#include <string>
#include <vector>

#include "core/codes.h"

// Frame fields decided by discovery; written to the record only when the load succeeds.
struct frame_fields {
    int file_type = FILE_DICOM;
    int first_frame = 0;
    int frames = 1;
    int frame = 0;
};

// Discovery of the frames when a data set is opened: file_type 1 for a numbered series
// (first number and count), 2 for the sorted plain files of the folder, 0 for one file;
// `frame` is the opened file's place. Shows a cancellable progress dialog while it looks.
frame_fields discover_frames(const std::string& path);

// The file holding frame `index` of a data set of `file_type` opened at `path`: the
// numbered name of a series (1), the index-th file of the folder (2), else `path`.
// Empty when the numbered name is too long for the loaders.
std::string frame_file_name(const std::string& path, int file_type, int index);
