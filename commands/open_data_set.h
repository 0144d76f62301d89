// The Open command and the frame slider without their controls, and the pairing of a
// noisy image with its reference by the naming rules of public denoising benchmarks.
#pragma once

#include <wx/string.h>

// Loader names by the Open dialog's filter index: 0 image, 1 DICOM, 2 Sonix, 3 QCT,
// 4 DFE, 5 micro-CT, 6 ("All files") DICOM. Null for any other index.
const char* loader_for_filter(int filter_index);

// The Open dialog's filter for the data set that is open: that of the loader that read it,
// however it was opened (dialog, start-up, drop, Open recent); the remembered filter
// without data.
int filter_for_open_data();

// Opens `path` with the loader chosen by `filter_index` (not by the extension), always
// from a reset record: derives the window when the loader proposed none, sets colour,
// channel and the default window, allocates display_image, pairs ordinary image files
// with a reference, zooms to fit and runs the pipeline. Returns true when an image was
// loaded; otherwise the record is put back as it was before, the open data set with it. With `any_loader` (a file dropped on the
// window) every loader is tried in start-up order instead.
bool open_data_set(const wxString& path, int filter_index, bool any_loader = false);

// The reference search for an ordinary image file (file_type -4; nothing happens for any
// other data) at info.file_name, for every way a file is opened: the
// "_all_noise", "NOISY_", "NIND_ ... _ISO", "_noise" and last-"_" rules in that order,
// with the level, ref_range and window they imply. Sets ref_file_name to the reference
// found, or empties it. Returns true when a reference is loaded.
bool pair_reference();

// Upper end of the level slider for the data just opened: data_max above 256, else 256,
// or 443 with colour processing.
int level_slider_maximum();

// The frame slider: when n differs from frame, reloads frame n with the loader of
// file_type (window kept), runs the pipeline and clears the metal-artefact state. A frame
// that does not load leaves the previous frame (and `frame`) in place. Returns false only
// when n is the current frame.
bool change_frame(int n);
