// Reloading the open micro-CT record after a change of mode or filter.
#pragma once

// Does nothing unless raw projection data are loaded (false). Otherwise: with
// `flush_cache` every cached filtered sinogram goes (they are refiltered with the
// current filter parameter); the current frame is loaded again in the current modes
// (`reset_window` as for a first open), the window becomes the default, the view fits
// the window, and the pipeline runs. Returns the loader's result.
bool reload_rsq_file(bool flush_cache, bool reset_window);
