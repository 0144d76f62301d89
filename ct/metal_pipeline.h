// The metal-artefact correction and the simulated acquisition of one CT slice: iterations
// over every angle of the projection line (metal_trace.h), the predict-background pass,
// the change that decides when to stop, and the sinogram display.
#pragma once

// Why the current data cannot be corrected or reconstructed (raw projection data, colour,
// nothing loaded); empty when they can.
const char* mdt_refusal();

// One pass over every angle: forward projection of sampled_image, the correction of the
// metal trace (or the projection itself in reconstruction-only runs), and its filtered
// back-projection into processed_image, or, in the sinogram mode of a last iteration or
// a reconstruction, one sinogram row per angle. The result is clamped into the data range
// and copied into sampled_image; the change in percent goes to metal_change and the
// status bar. When `projections` / `corrections` are given (recon_angles pointers to L
// doubles each) every angle's projection and correction are copied there. False when
// nothing could run or, in a correction, no ray meets metal (the slice is left as it was).
bool mdt_one_iteration(double** projections = nullptr, double** corrections = nullptr);

// The correction (or, with recon_only, the reconstruction) of the current frame, with
// the neighbouring frames' metal already set (set_mdt_neighbour_metal): the line fitted
// to the metal, then up to metal_iterations iterations until the change falls below
// metal_convergence x 0.001 %. Reports the time in status field 2 only when at least one
// iteration ran. False when there is no metal (the image is left as it was) or nothing
// can run.
bool mdt_correct_frame();
