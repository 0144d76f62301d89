// The data steps of start-up, shared by the desktop program and the batch tool.
#pragma once

#include <wx/string.h>

// Offers info.file_name to the loaders in start-up order (or only to the loader named
// `only`) as a first open. Returns true when one accepted it.
bool load_startup_file(const char* only = nullptr);

// After a load: when the loader proposed no window (width 1) derives it from the data
// range (width at least 1), makes it the default window, and shows the data's own colour
// space, all channels.
void derive_default_window();

// Derives the first view after a load attempt: with no image, clears file_name; otherwise
// takes the loader's window as the default, deriving it from the data range when the
// loader proposed none (width 1). Then sizes the canvas to the image (or to the given
// window when window_w and window_h are positive), sets colour and channel, allocates
// display_image (unless `allocate_display` is false: the batch tool leaves it to the
// display stage, which allocates it when it first draws) and zooms to fit.
void derive_first_view(int window_w = 0, int window_h = 0, bool allocate_display = true);

// Sizes display_image for the current window (released only, when `allocate` is false)
// and zooms to fit (Close and start-up).
void allocate_display_and_fit(bool allocate = true);
