// Numbered file sequences: the sequence-number field of a path and the names of its
// neighbours. Shared by the DICOM reader, the image-file loader and the writers.
#pragma once

#include <functional>
#include <string>

// The last run of decimal digits anywhere in a path (directory names included), with the
// run of spaces that follows it when the numbers are right-padded with spaces.
struct sequence_field {
    size_t start = 0;         // first digit
    size_t digits_end = 0;    // one past the last digit
    size_t end = 0;           // one past the trailing spaces (== digits_end without them)
    long number = 0;          // value of the digits (saturates on absurdly long runs)
    bool zero_padded = false; // the first digit is '0'
};

// Finds the field; false for a path without any digit.
bool find_sequence_field(const std::string& path, sequence_field& field);

// The name of file n of the sequence: text before the field, n in decimal, padded to the
// field's width with leading zeros (zero-padded field) or trailing spaces (space-padded
// field), then the rest of the path.
std::string sequence_file_name(const std::string& path, const sequence_field& field, long n);

// Scans the neighbours of the field's number downward and then upward, stopping at the
// first missing file each way. `exists` tests a name; `pulse` (may be empty) is called
// before each test whose number is a multiple of 10 and returns false to cancel.
// Returns false when cancelled during the downward scan; `first` and `count` then
// describe what was found so far.
bool find_sequence_range(const std::string& path, const sequence_field& field,
                         const std::function<bool(const std::string&)>& exists,
                         const std::function<bool()>& pulse, long& first, long& count);
