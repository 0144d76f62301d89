// Mindways QCT slice files (.qct).
#pragma once

// Loads slice `index` (-1: slice 1) of a QCT file: 32 bytes, a 64-bit 1, a slice count n
// (1..2048) and n 64-bit offsets of 208-byte slice records, each followed by its rows of
// unsigned 16-bit samples (Hounsfield units + 1000). Slices 1 .. n-1 are offered
// (file_type -3). Returns false (record unchanged) on any header, size or offset check.
bool load_qct_file(char* path, int index);
