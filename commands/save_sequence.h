// Saving every frame of the data set as numbered image files, and writing the whole data
// set processed (DICOM or 16-bit TIFF) beside its source.
#pragma once

#include <functional>
#include <wx/string.h>

#include "io/frame_writer.h"

// The two choices of the save-sequence dialog for the current sub-sampling: processed
// (0) and displayed (1).
wxString sequence_choice_text(int choice);

// Steps through every frame from first_frame: with sub-sampling n > 1 either every n-th
// frame (subsample_filter clear) or the average of each group of n frames (set; a
// trailing incomplete group writes nothing). Each frame is reloaded, sampled (and
// averaged), processed, `after_frame` is called (the GUI refreshes there; may be empty)
// and the result written as `base`_%04i.ext, the counter counting files written, `ext`
// from `base`. Choice 0 writes the processed image windowed to 8 bits, or the scaled
// 16-bit TIFF for grey data of range 256 or more saved as TIFF; choice 1 writes the
// display image. Stops when cancelled (progress dialog), on a frame of another size
// while averaging (warning), on a frame that cannot be read, or when a file is refused
// or cannot be written (warned by the writer; nothing partial is left). Returns the
// number of files written and sets `complete` unless such an error stopped it (a cancel
// does not); the last frame processed stays loaded.
int save_sequence(const wxString& base, int index, int choice,
                  const std::function<void()>& after_frame, bool* complete = nullptr);

// Why the loaded data cannot be written as a data set ("Process DICOM/TIFF"); empty when
// it can.
wxString data_set_refusal();

// Writes every frame of a DICOM or 16-bit TIFF data set, processed, beside its source
// (the reader locates a DICOM frame in its file, the frame writers write it), frames
// `first` .. `last`: each frame is loaded, filtered whole,
// `after_frame` is called (as above) and the frame written into the run begun here
// (current_data_set_run holds the files written). A frame that cannot be read or written
// is skipped with a warning; a write error stops the run. The status bar then says
// "Processed in ..." (with the frames not written), or that nothing or not everything
// was written. Does nothing without dicom_output or tiff_output, or with sub-sampling.
// Returns the frames written.
int process_all_frames(int first, int last, const std::function<void()>& after_frame);

// A run over the frames of a data set that writes each beside its source. `step` is what a frame gets after its reload and the filter (the metal-artefact
// correction, say); `corrected` writes the corrected slice (sampled_image) into the
// method's folder rather than the filtered one into "proc"; `fresh_frames` reloads even
// the frame shown (it may hold an earlier correction). `done` begins the closing status
// text ("Processed in ...").
struct data_set_pass {
    wxString title;
    wxString done = "Processed";
    std::function<void()> step;
    bool corrected = false;
    bool fresh_frames = false;
};
int write_data_set(int first, int last, const data_set_pass& pass, const std::function<void()>& after_frame);

// The run write_data_set made last, or is making: the files written, the frames not
// written, whether a write error stopped it. Empty before the first run.
const data_set_run& current_data_set_run();

// process_all_frames over the frame slider's range: from the frame shown for image data
// sets, from the first frame for the others, to the last.
int process_data_set(const std::function<void()>& after_frame);
