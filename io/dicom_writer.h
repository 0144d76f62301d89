// Writing a processed frame as a new DICOM file: a byte-for-byte copy of the frame's file
// with new identities and the processed samples in the file's own sample format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct data_set_run;

// A text value in the file: where it starts and how many bytes it has (0 when absent).
struct dicom_value_span {
    size_t offset = 0;
    size_t length = 0;
};

// What the reader's walk found out about the frame to write.
struct dicom_frame_layout {
    dicom_value_span media_instance_uid;  // (0002,0003)
    dicom_value_span instance_uid;        // (0008,0018)
    dicom_value_span series_uid;          // (0020,000E)
    size_t pixel_offset = 0;              // the frame's first sample
    int columns = 0, rows = 0;
    int bits_allocated = 16, bits_stored = 16;
    bool is_signed = false, big_endian = false;
    double slope = 1.0, intercept = 0.0;
};

// True for a valid UID: at most 64 characters, components of digits separated by single
// dots, no component with a leading zero (other than "0" itself).
bool valid_uid(const std::string& uid);

// A new UID of the same length as `old` that cannot be mistaken for it or for any UID
// the source's numbering gives out: the root is kept and the trailing components (at
// least 16 characters where the UID is long enough) are replaced by the decimal digits of
// `stamp` and `serial`; a UID whose root is not valid gets the root 2.25. Empty when no
// valid UID of that length exists (under 6 characters).
std::string new_uid(const std::string& old, uint64_t stamp, unsigned serial);

// The stored sample for processed value v (x 16): (v / 16 - intercept) / slope rounded
// to the nearest integer, clamped to lo .. hi.
int stored_sample(int v, double slope, double intercept, int lo, int hi);

// Writes the frame of `file` (the mapped bytes of `source`) laid out as `layout` with
// the processed samples (processed_image, or sampled_image during the metal-artefact
// run) to dicom_output_path(source): the first frame written to an output copies the
// file and gives it a new instance identity (and the run's identity for its series);
// every frame is then written into that copy; `run` records the files. On any failure the output is removed, the
// run is marked failed and false is returned with a warning.
bool write_dicom_frame(data_set_run& run, const std::string& source, const uint8_t* file, size_t file_size,
                       const dicom_frame_layout& layout);
