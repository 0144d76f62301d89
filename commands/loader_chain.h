// The loaders in the order start-up tries them, and the dispatch by file type that
// reloads a frame of an open data set.
#pragma once

#include <string>
#include <vector>

#include "core/path_buffer.h"

// A loader takes the path (locale multibyte) and a frame index, -1 for a first open,
// and returns true when it recognised and loaded the file.
typedef bool (*loader_fn)(char* path, int index);

struct loader_entry {
    const char* name;  // "image", "dicom", "sonix", "qct", "rsq", "dfe"
    loader_fn load;    // null while that loader is not part of the build
    const char* kind;  // what the loader reads, as in "... is not a DICOM file."
};


// The start-up order: image file, DICOM, ultrasound, QCT, micro-CT, DXA.
const std::vector<loader_entry>& startup_loaders();

// Finds a loader by name; null when the name is unknown.
const loader_entry* find_loader(const std::string& name);

// Offers `path` with frame index `index` to the loaders in start-up order (or to the one
// named `only`) and returns true as soon as one accepts it. Paths are copied into a
// private buffer so loaders may not alter the caller's string.
bool load_with_chain(const std::string& path, int index, const char* only = nullptr);

// A first open (index -1) through load_with_chain that never leaves the user without a
// word: loaders stay quiet about files that are not their own, so when the file is refused
// and no loader has warned, this warns "<path> is not a DICOM file." (the one loader
// named, in its own words), "Could not open '<path>': no loader recognised it." (every
// loader), or why the file cannot be read at all.
bool load_or_say_why(const std::string& path, const char* only = nullptr);

// The loader that reloads frames of a data set of the given file_type (0, 1, 2 DICOM;
// -1, -2 ultrasound; -3 QCT; -4, -5 image files; -6 DXA; -7 micro-CT); null for any
// other value or when that loader is not built.
const loader_entry* loader_for_file_type(int file_type);

// Frame change as the frame slider does it: frame = n, the sampled, auxiliary, noise and
// processed images released, the frame reloaded through the loader of info.file_type with
// info.file_name, and the window kept. Returns the loader's result (false when no loader
// serves the file type); on false `frame` is the frame the record still holds.
bool reload_frame(int n);
