// Writing processed frames beside their source when every frame of a data set is
// processed: the output names, the TIFF form of a frame, and the state of one run (the
// files it wrote, the frames it could not write, the identities it gave out).
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "io/dicom_reader.h"
#include "io/tiff_writer.h"

struct data_set_run;

// The sub-folder a run writes into: "proc" (metal_iteration < 0), else "nmar", "bmar" or
// "refined" by the metal method; empty when none applies.
const char* frame_output_folder();

// The output path for a frame read from `source`: the source's folder plus
// frame_output_folder(), same name. Empty when there is no sub-folder.
std::string frame_output_path(const std::string& source);

// The output path of the DICOM writer for `source`: the sub-folder, the name with
// "_proc" (metal_iteration < 0) or "_refined", the extension kept, or "tiff" when `tiff`.
// A name's last dotted part counts as its extension only when it is not all digits
// (files named by their UIDs keep every component). Empty without a sub-folder.
std::string dicom_output_path(const std::string& source, bool tiff);

// `path` with "_%04i" of `index` added to its name: one file per frame of a multi-frame
// or multi-page source.
std::string numbered_output_path(const std::string& path, int index);

// The form of an unscaled frame: CT for DICOM data (file types 0, 1, 2) and for image
// files loaded with the CT offset (-32768), else direct.
tiff_form unscaled_tiff_form(int file_type, int tiff_offset);

// Writes processed_image for frame `index`, read from `source`, in `form` to
// frame_output_path(source) (pages of a multi-page file as NAME_%04i), creating the
// folder, into `run`. False, with a warning, when there is no output folder or nothing was
// written.
bool write_processed_frame(data_set_run& run, const std::string& source, int index, tiff_form form);

// Writes processed_image as a TIFF in `form` to `target`, the output for frame file
// `source`: creates the folder, refuses the source or a file of the open data set, and
// records the file in the run (or the failure, after removing a partial file).
bool write_frame_tiff(data_set_run& run, const std::string& target, const std::string& source, tiff_form form);

// Writes the processed frame `index` of a DICOM data set, located in its file `f`: a new
// DICOM file for uncompressed grey data (write_dicom_frame), else the 16-bit CT-form TIFF
// when the data set is written as TIFF. A frame that cannot be written is refused with a
// warning and the run goes on; write errors stop the run.
bool write_dicom_source_frame(data_set_run& run, const dicom_located_frame& f, int index);

// One run of "Process DICOM/TIFF" (or of the metal-artefact run over all frames), owned
// by the run and handed to every writer.
struct data_set_run {
    uint64_t stamp = 0;      // microseconds since 1970 when the run began
    unsigned serial = 0;     // identities given out so far
    // New series identities by the source's Series Instance UID.
    std::map<std::string, std::string> series;
    // Output files made by this run: a multi-frame file is copied once, and every later
    // frame is written into that copy.
    std::set<std::string> made;
    std::vector<std::string> files;  // written, in order
    int skipped = 0;                 // frames not read or refused (warned), the run goes on
    bool failed = false;             // a write error: the run stops

    // A new run: a fresh stamp, no files.
    static data_set_run begun();
    // Records a written file once; a frame refused; a failure that stops the run.
    void note_file_written(const std::string& path);
    void note_frame_skipped() { skipped++; }
    void note_run_failed() { failed = true; }
    // Forgets a file the run had written and that has been removed.
    void forget_file(const std::string& path);
};

// Creates the folder of `path` with every missing parent; false, with a warning, on
// failure.
bool make_output_folder(const std::string& path);

// True, with a warning, when output_refusal refuses `target`: a link, the file `source`
// itself or a file of the open data set.
bool refuse_overwriting_source(const std::string& target, const std::string& source);
