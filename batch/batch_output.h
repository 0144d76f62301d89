// Binary output files of the batch verbs. Both throw run_error, and remove the partial
// file, when the file cannot be written completely.
#pragma once

#include <cstddef>
#include <string>

// Writes `count` values as little-endian int32.
void write_int32_file(const std::string& name, const int* values, size_t count);
// Writes bytes as they are.
void write_bytes_file(const std::string& name, const unsigned char* bytes, size_t count);
