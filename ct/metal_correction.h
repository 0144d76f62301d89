// What the correction removes from each projection across the metal trace, the display
// curves of a line, and the filtered back-projection of the corrections into the slice.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "ct/ct_params.h"
#include "ct/metal_hardening.h"
#include "ct/metal_trace.h"

// Whether the pass projects the prior image beside the slice: NMAR (from the second
// iteration of LI + NMAR, which interpolates plainly first) and the refined correction
// from its second iteration on (not in a predict-background pass).
bool mdt_uses_prior(const mar_params& p);

// The correction of one line (sample spacing `delta`) into `correction` (L samples): the
// projection in reconstruction-only runs; otherwise, on the trace, linear interpolation of
// p - q (Basic LI, LI + NMAR), the normalised NMAR form (NMAR alone), or the refined form
// (hardening fit plus the trace's detail finer than p.smooth pixels). `predict` gives the
// negated hardening fit alone (the predict-background pass).
void line_correction(const line_samples& s, const hardening_fit* fit, bool predict, double delta,
                     const mar_params& p, double* correction);

// The display curves of one line: its projection and the projection less the correction,
// scaled into the window (centre, range) for the canvas, into `projection` and `corrected`
// (L values each).
void line_display(const line_samples& s, const double* correction, double centre, double range,
                  double* projection, double* corrected);

// Smooths, ramp-filters and scales a correction in place for back-projection; returns the
// kept samples [first, last] (first > last when nothing is kept).
std::pair<int, int> filter_correction(double* correction, int L, bool negate, const mdt_line& line,
                                      const mar_params& p);

// Adds the filtered corrections of angles a0 .. a0 + filtered.size() - 1 (filtered[k] for
// angle a0 + k, kept[k] their kept range) to `sum` (line.w x line.h, rows y0 .. y1 - 1),
// angle by angle, linearly interpolated. The caller subtracts the sum, rounded half away
// from zero, once: rounding every angle's share would lose every correction smaller than
// half a level per angle. Pixels flagged in `skip` (may be null) are left alone.
void back_project_block(const mdt_line& line, const std::vector<std::vector<double>>& filtered,
                        const std::vector<std::pair<int, int>>& kept, int a0, int y0, int y1,
                        const uint8_t* skip, double* sum);
