// Micro-CT raw projection files ("Xtreme Raw", header "CTDATA-HEADER_V1"): the header
// and its derived geometry, the frames of the five load modes, and the loader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The header fields and what follows from them. Records count from 0: record q is
// reached by skipping q records of the data.
struct rsq_layout {
    int X = 0, Y = 0, Z = 0;   // samples per row, rows per record, records
    int pitch = 0;             // sample pitch value (pixel spacing 0.00104 x pitch mm)
    int b = 0;                 // binning factor
    int F = 0, E = 0;          // fan width and view margin, in views
    int lead = 0, trail = 0;   // ignored samples at the start and end of a row
    int S = 0, N = 0;          // records per stack, neighbourhood half-width
    int W0 = 0;                // used samples per row
    int M = 0;                 // shown records per stack, S - 2N
    int Fr = 0;                // usable records (frames of the record modes)
    int P = 0;                 // parallel sinogram size 2 ((Y - 2) - 2E - F)
    uint64_t data_offset = 0;  // (B + 1) x 512
};

// Reads and checks the header of the `size` bytes at `file`. False with the reason in
// `why` (empty when the file is not a raw projection file at all): sizes below 1, a
// binning factor outside 1 .. 138, no shown record per stack, fewer than 2 or more than
// 8192 used samples, a sample pitch of 0 or below, or data the file does not hold.
bool read_rsq_layout(const uint8_t* file, size_t size, rsq_layout& layout, std::string& why);

// The record shown as frame f (1 .. Fr): the inner records of each stack in order, the
// first and last N of every stack (the last stack may be partial) left out.
int rsq_record_of_frame(const rsq_layout& layout, int f);

// Frames of load mode `mode` (0 sinogram, 1 X-ray projection, 2..4 reconstruction).
int rsq_frames(const rsq_layout& layout, int mode);

// The stored sample of data sample I with dark sample Dk and bright sample Br:
// trunc(16 a) with a = -1000 ln((I - Dk) / (Br - Dk)), 0 for a negative or undefined a.
int rsq_convert(int I, int Dk, int Br);

// Loads frame `frame` (-1 means 1) of `name` in the record's xtreme_load / xtreme_recon
// modes. False, with the record's image planes unchanged, when the file is not a raw
// projection file (silently), is refused (with a warning), the frame does not exist, or
// the reconstruction was cancelled. `reset_window` sets the window 450 / 3100 in the
// reconstruction modes.
bool load_rsq_file(char* name, int frame, bool reset_window);

// The loader chain's form: frame `index`, the window reset.
bool load_rsq_frame(char* name, int index);
