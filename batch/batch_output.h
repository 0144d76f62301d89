// Binary output files of the batch verbs.
#pragma once

#include <cstddef>
#include <string>

// Writes `count` values as little-endian int32 through an output_file: never through a
// link or over a file being read, nothing left behind when the file cannot be written
// whole. Throws run_error then.
void write_int32_file(const std::string& name, const int* values, size_t count);
