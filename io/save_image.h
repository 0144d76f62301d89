// Saving one image: as displayed (the window's RGB bytes) or as processed (full precision
// or 8 bits), through the wx image handlers, a raw binary dump or the 16-bit TIFF writer.
#pragma once

#include <wx/image.h>
#include <wx/string.h>

#include "io/output_file.h"

// The save dialogs' wildcard; its filter index is the export type index below.
extern const char* const save_wildcard;

// Export types by filter index of save_wildcard, in its order.
enum export_format : int {
    export_png = 0,
    export_jpeg,
    export_tiff,
    export_bmp,
    export_pnm,
    export_binary,  // raw dump, no image handler
    export_formats  // number of entries
};
wxBitmapType export_type(int index);

// The export type index for a file name's extension (png, jpg, jpeg, tif, tiff, bmp,
// pnm, ppm, bin); -1 for any other.
int export_index_for_path(const wxString& path);

// The name and type a save dialog's answer stands for. A name ending in an extension of the
// list is of that type, whatever filter the dialog shows (GTK leaves a typed extension as it
// is); any other name gets the chosen filter's extension appended. Returns the type index.
int export_choice(wxString& path, int filter_index);

// What save_processed_image writes for type `index` with the current data ("16-bit TIFF",
// "8-bit PNG", "binary"...), for the status bar.
wxString processed_export_kind(int index);
// Likewise for save_display_image: the displayed RGB bytes.
wxString display_export_kind(int index);

// Writes display_image (window_width x window_height RGB) as type `index`. The binary
// dump holds exactly window_width x window_height x 3 bytes. Returns false with a warning
// when nothing is written.
bool save_display_image(const wxString& path, int index);

// Writes processed_image as type `index`: the scaled 16-bit TIFF for grey data of range
// 256 or more saved as TIFF; the int32 dump (native order, still x 16) for binary;
// otherwise 8 bits without windowing (grey, RGB, other spaces through RGB, the "_RAW"
// high/low layout for RAW Bayer data, RGB Alpha), alpha only in PNG files.
bool save_processed_image(const wxString& path, int index);

// Byte of a processed value v (x 16) with factor f: trunc(v f / 16 + 0.5) in 0..255.
unsigned char processed_byte(int v, double f);
// Windowed byte: the same applied to ((v f / 16) - window_centre) x 255 / window_range + 127.
unsigned char windowed_byte(int v, double f);

// Saves `image` through the handler of type `index` (PNG files of grey images with
// "PngFormat" 3) and an output_file. False, with a warning, when it was not written.
bool save_with_handler(wxImage& image, const wxString& path, int index, bool grey_png);

// Writes `bytes` bytes to a new file (permissions 0666 before the umask) through an
// output_file.
bool write_binary_file(const wxString& path, const void* data, size_t bytes);
