// The walk over the elements of one DICOM file up to its pixel data: the header fields the
// readers and the data-set writer use, the identities a written copy replaces, and where
// the pixel data element starts. Opening a file maps it, inflating a deflated data set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <wx/log.h>
#include <wx/string.h>

#include "io/dicom_pixel_data.h"
#include "io/dicom_writer.h"

// One of the red, green and blue lookup tables of PALETTE COLOR data.
struct dicom_palette_lut {
    uint32_t entries = 0;  // 0 stands for 65536
    uint16_t first = 0, bits = 0;
    const uint8_t* data = nullptr;
    size_t length = 0;
};

// One walk over one file. `index` is the frame asked for (-1 on a first open, which also
// notes a multi-frame file); `deflated`: the bytes are the file with its data set inflated.
class dicom_header_walk {
public:
    dicom_header_walk(const uint8_t* data, size_t size, const std::string& name, int index, bool deflated)
        : data(data), size(size), name(name), index(index), deflated(deflated)
    {
    }

    // Walks to (7FE0,0010) and checks that the image format is one the program reads.
    // False on failure, warned when the file is evidently DICOM.
    bool run();

    // Logs `text` as a warning when the file is evidently DICOM.
    void warn(const wxString& text) const
    {
        if (looks_dicom()) wxLogWarning("%s", text);
    }
    wxString file_text() const;

    const uint8_t* const data;
    const size_t size;
    const std::string name;
    const int index;
    const bool deflated;

    // What the walk found.
    dicom_header_t h;
    std::string transfer_syntax;
    bool big_endian = false;
    bool multi_frame = false;   // a first open of a file of two or more frames
    dicom_palette_lut palette[3];
    // The identities a written copy replaces: the first top-level occurrence of each.
    dicom_value_span media_instance_uid, instance_uid, series_uid;
    // The pixel data element: its value's first byte, its length, and whether that length
    // is undefined (encapsulated fragments).
    size_t pixel_pos = 0;
    uint32_t pixel_length = 0;
    bool encapsulated = false;

private:
    bool walk_to_pixel_data(uint32_t& length, bool& undefined);
    bool read_element_header(uint16_t& group, uint16_t& element, uint32_t& length);
    bool skip_undefined_length();
    bool skip_items(int depth);
    void act_on(uint16_t group, uint16_t element, const uint8_t* value, uint32_t length);
    bool looks_dicom() const { return has_prefix_ || ts_seen_ || h.rows || h.columns; }

    size_t pos_ = 0;
    bool ts_seen_ = false, explicit_vr_ = true, has_prefix_ = false;
};

// Opens the DICOM file `name` (mapped; a deflated data set inflated), walks its header
// for frame `index` and hands the walk to `use` while the bytes are held. False when the
// file cannot be opened, cannot be inflated (warned) or the walk fails; else what `use`
// returns.
bool walk_dicom_file(const std::string& name, int index, const std::function<bool(dicom_header_walk&)>& use);

// Value representations whose explicit form has two reserved bytes and a 32-bit length.
bool long_length_vr(uint8_t a, uint8_t b);
