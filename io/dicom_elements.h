// The elements of a DICOM file as text, for the window's "DICOM information" list: read by
// the program's own walk over the file, never by the loaders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct dicom_element_row {
    uint16_t group = 0, element = 0;
    std::string vr;     // as stored, or from the dictionary for implicit files ("" unknown)
    int depth = 0;      // 0 top level; inside sequence items one more per level
    std::string value;  // text, numbers joined by "\", or a note such as "(512 bytes)"
};

// Lists the file's elements in file order, the meta group first and sequence contents
// after their sequence. Bounded: at most `limit` rows, sequences 16 deep. False, with
// `why`, when the file cannot be read or is not DICOM; a file damaged part-way lists what
// came before and says so in a last row.
bool list_dicom_elements(const std::string& path, std::vector<dicom_element_row>& rows,
                         std::string& why, size_t limit = 200000);

// Names of the common elements ("Rows", "Patient's Name"...); "" for others.
const char* dicom_element_name(uint16_t group, uint16_t element);
