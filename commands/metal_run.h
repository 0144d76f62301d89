// The metal-artefact commands: "Apply", "Cont.", "Reconstruct" on a CT slice, and
// "Create MAR data" over every frame of the data set.
#pragma once

#include <functional>
#include <wx/string.h>

// The metal-correction choice (0 "No correction" .. 6 "RMAR (predict back)"): stores the
// index and sets metal_active and the method switches of that method (index 0 keeps the
// switches of the last method and only ends the correction).
void set_metal_choice(int choice);

// The correction (or, with recon_only, the reconstruction) of the current frame: with
// metal_smooth_frames >= 1 on a DICOM data set of two or more frames, the metal of the
// frames within that distance is found first (each loaded and sampled in turn, the
// current frame's planes kept) and counts where this frame is at least background +
// range (dense: bone, or the metal's end), then the frame is corrected. False when there is no metal
// or nothing can run (the image is left as it was).
bool mdt_one_frame();

// "Apply": the method of metal_choice from the frame as loaded (sampled and filtered
// again), up to metal_iterations iterations. Refused (false, the reason in `why`) on raw
// projection data, colour or without a slice.
bool metal_apply(wxString* why = nullptr);
// "Cont.": one more iteration along the current line.
bool metal_continue(wxString* why = nullptr);
// "Reconstruct" without raw projection data: a simulated acquisition of the slice
// (projection with detection noise, then filtered back-projection, or the sinogram in
// the "Sinogram" load mode).
bool reconstruct_slice(wxString* why = nullptr);
// The reconstruction of the current frame inside a sequence save (after the pipeline).
void reconstruct_frame();

// Why "Create MAR data" cannot run on the loaded data; empty when it can.
wxString mar_data_refusal();
// "Create MAR data": every frame of the data set reloaded, filtered, corrected and written
// through its reader's writing mode (DICOM into nmar/, bmar/ or refined/ by the method,
// 16-bit data as TIFF). Returns the frames written; nothing runs when mar_data_refusal()
// has a reason.
int mdt_all_frames(const std::function<void()>& after_frame);
