// The metal-artefact correction and the simulated acquisition of one CT slice: iterations
// over every angle of the projection line (metal_trace.h), the predict-background pass,
// the change that decides when to stop, and the sinogram display. These are the entry
// points of ct/ that read the record: they build mar_params and mdt_line from it, run the
// routines below, and store what those return (the slice, the line for the canvas, the
// change) once the row bands have finished.
#pragma once

#include "ct/ct_params.h"

// Why the current data cannot be corrected or reconstructed (raw projection data, colour,
// nothing loaded); empty when they can.
const char* mdt_refusal();

// Places the projection line for the current slice (place_mdt_line) and stores it in the
// record: line_start / line_end, line_margins, profile_length and the display arrays,
// recon_angles, fft_length and ramp_filter. `keep_line` keeps the record's line.
bool setup_mdt_line_and_filter(bool fit_metal, bool whole_image, bool keep_line, mdt_line& line);

// One pass over every angle of `line`: forward projection of sampled_image, the
// correction of the metal trace (or the projection itself in reconstruction-only runs),
// and its filtered back-projection into processed_image, or, in the sinogram mode of a
// last iteration or a reconstruction, one sinogram row per angle. The result is clamped
// into the data range and copied into sampled_image; the change in percent goes to
// metal_change and the status bar. The margins are the record's line_margins, the
// neighbouring frames' metal its metal_neighbours; the detection noise of a reconstruction
// is drawn from recon_seed. False when nothing could run or, in a correction, no ray meets
// metal (the slice is left as it was).
bool mdt_one_iteration(const mdt_line& line);

// The correction (or, with recon_only, the reconstruction) of the current frame, with
// the neighbouring frames' metal already in metal_neighbours: the line fitted
// to the metal, then up to metal_iterations iterations until the change falls below
// metal_convergence x 0.001 %. Reports the time in status field 2 only when at least one
// iteration ran. False when there is no metal (the image is left as it was) or nothing
// can run.
bool mdt_correct_frame();
